#include "station/SideFile.h"

#include "station/StationError.h"
#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using station::SideFile;
using station::SideFileEncoding;
using station::StationError;

namespace {

QByteArray utf16(QStringConverter::Encoding encoding, const QString& text) {
    QStringEncoder encoder(encoding);
    return encoder.encode(text);
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

struct FileCase {
    std::string name;
    QByteArray file;
    QString listText; // every line end as CR LF
    SideFileEncoding encoding;
    QByteArray writtenBack;
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class SideFileRoundTrip : public ::testing::TestWithParam<FileCase> {
protected:
    QTemporaryDir dir;
};

TEST_P(SideFileRoundTrip, ReadsTheListAndWritesItBackInTheEncodingFound) {
    const FileCase& c = GetParam();
    const QString path = dir.filePath(u"camaras.txc"_s);
    writeBytes(path, c.file);

    SideFile side(path);
    const auto list = side.readIfExists();
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->text(), c.listText);
    EXPECT_EQ(side.encoding(), c.encoding);

    side.write(*list);
    EXPECT_EQ(readBytes(path).toHex(' '), c.writtenBack.toHex(' '));
}

const QByteArray kUtf8Mark("\xEF\xBB\xBF");

INSTANTIATE_TEST_SUITE_P(
    Encodings, SideFileRoundTrip,
    ::testing::Values(
        FileCase{"Utf8Mark", kUtf8Mark + "192.168.1.4\r\nC\xC3\xA1mara", u"192.168.1.4\r\nCámara"_s,
                 SideFileEncoding::Utf8, kUtf8Mark + "192.168.1.4\r\nC\xC3\xA1mara"},
        FileCase{"Utf16LE", "\xFF\xFE" + utf16(QStringConverter::Utf16LE, u"a\r\nÑ\r\n"_s), u"a\r\nÑ\r\n"_s,
                 SideFileEncoding::Utf16LE, "\xFF\xFE" + utf16(QStringConverter::Utf16LE, u"a\r\nÑ\r\n"_s)},
        FileCase{"Utf16BEWithLoneLf", "\xFE\xFF" + utf16(QStringConverter::Utf16BE, u"a\nb"_s), u"a\r\nb"_s,
                 SideFileEncoding::Utf16BE, "\xFE\xFF" + utf16(QStringConverter::Utf16BE, u"a\r\nb"_s)},
        FileCase{"LoneLfComesBackAsCrLf", "192.168.1.4\n*\n", u"192.168.1.4\r\n*\r\n"_s,
                 SideFileEncoding::CodePage, "192.168.1.4\r\n*\r\n"},
        FileCase{"LoneCrAndMixedEnds", "a\rb\r\nc\n\nd", u"a\r\nb\r\nc\r\n\r\nd"_s,
                 SideFileEncoding::CodePage, "a\r\nb\r\nc\r\n\r\nd"},
        FileCase{"CodePageWithoutMark", "C\xE9mara \x80\r\n", u"Cémara €\r\n"_s, SideFileEncoding::CodePage,
                 "C\xE9mara \x80\r\n"},
        // As some editors save it: read as UTF-16, not as code-page text with a NUL in every other
        // byte, and written back in the same form.
        FileCase{"Utf16LEWithoutMark", utf16(QStringConverter::Utf16LE, u"10.0.0.1\r\nCámara\r\n"_s),
                 u"10.0.0.1\r\nCámara\r\n"_s, SideFileEncoding::Utf16LENoMark,
                 utf16(QStringConverter::Utf16LE, u"10.0.0.1\r\nCámara\r\n"_s)},
        FileCase{"Utf16BEWithoutMark", utf16(QStringConverter::Utf16BE, u"a\r\n"_s), u"a\r\n"_s,
                 SideFileEncoding::Utf16BENoMark, utf16(QStringConverter::Utf16BE, u"a\r\n"_s)},
        // A mark after the mark is text, kept as it was (the decoder would otherwise eat it).
        FileCase{"Utf8MarkTwice", kUtf8Mark + kUtf8Mark + "a\r\n", u"\uFEFFa\r\n"_s, SideFileEncoding::Utf8,
                 kUtf8Mark + kUtf8Mark + "a\r\n"},
        FileCase{"Utf16BEMarkTwice", QByteArray("\xFE\xFF\xFE\xFF\x00\x61", 6), u"\uFEFFa"_s,
                 SideFileEncoding::Utf16BE, QByteArray("\xFE\xFF\xFE\xFF\x00\x61", 6)},
        FileCase{"EmptyFile", "", QString(), SideFileEncoding::CodePage, ""}),
    [](const auto& info) { return info.param.name; });

// What did not decode cleanly is kept, once, before the station writes its list over it.
TEST(SideFile, FileThatDidNotDecodeCleanlyIsKeptBeforeItIsWrittenOver) {
    for (const QByteArray& bytes : {kUtf8Mark + "C\xE1mara\r\n", QByteArray("CAM\0\r\n", 6)}) {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"NombreCamaras.txt"_s);
        writeBytes(path, bytes);
        SideFile side(path);
        const auto list = side.readIfExists();
        ASSERT_TRUE(list.has_value());

        side.write(*list);
        side.write(*list);

        const QStringList copies = QDir(dir.path()).entryList({u"NombreCamaras.txt.*.bak"_s}, QDir::Files);
        ASSERT_EQ(copies.size(), 1) << bytes.toHex(' ').constData();
        EXPECT_EQ(readBytes(dir.filePath(copies.first())), bytes);
    }
}

TEST(SideFile, ListNeverReadIsWrittenInTheCodePageWithALineEndAfterEveryEntry) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"NombreCamaras.txt"_s);
    SideFile side(path);
    EXPECT_FALSE(side.readIfExists().has_value());
    side.write(config::LineList::fromLines({u"192.168.1.4"_s, u"192.168.1.255"_s, u"Cámara"_s}));
    EXPECT_EQ(readBytes(path), QByteArray("192.168.1.4\r\n192.168.1.255\r\nC\xE1mara\r\n"));
}

struct UnreadableCase {
    std::string name;
    std::function<bool(const QString& path)> make; // puts it there; false when the system cannot
};

void PrintTo(const UnreadableCase& c, std::ostream* os) {
    *os << c.name;
}

class UnreadableSideFile : public ::testing::TestWithParam<UnreadableCase> {};

// Refused at once with a message naming it: nothing to wait on, nothing taken into memory whole.
TEST_P(UnreadableSideFile, RaisesAndNamesTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"turno.txt"_s);
    if (!GetParam().make(path))
        GTEST_SKIP() << "cannot be made here";
    SideFile side(path);
    try {
        side.readIfExists();
        ADD_FAILURE() << "read";
    } catch (const StationError& e) {
        EXPECT_TRUE(e.message().contains(path)) << qPrintable(e.message());
    }
}

INSTANTIATE_TEST_SUITE_P(
    SideFile, UnreadableSideFile,
    ::testing::Values(UnreadableCase{"Folder", [](const QString& path) { return QDir().mkdir(path); }},
                      // Opening a pipe without a writer would wait for one forever.
                      UnreadableCase{"Fifo",
                                     [](const QString& path) {
                                         return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
                                     }},
                      UnreadableCase{"LargerThanAnyList",
                                     [](const QString& path) {
                                         QFile file(path);
                                         return file.open(QIODevice::WriteOnly) &&
                                                file.resize(SideFile::kMaxBytes + 1);
                                     }}),
    [](const auto& info) { return info.param.name; });

// Makes a folder refuse new entries for as long as it lives: read-only for a user, immutable for
// root (whom permissions do not stop). Empty when the system allows neither.
class LockedFolder final {
public:
    explicit LockedFolder(const QString& path)
        : m_path(QFile::encodeName(path)) {
        if (::geteuid() != 0) {
            m_locked = ::chmod(m_path.constData(), 0555) == 0;
            return;
        }
        m_locked = setImmutable(true);
    }
    ~LockedFolder() {
        if (!m_locked)
            return;
        if (::geteuid() != 0)
            ::chmod(m_path.constData(), 0755);
        else
            setImmutable(false);
    }
    Q_DISABLE_COPY_MOVE(LockedFolder)

    bool locked() const { return m_locked; }

private:
    bool setImmutable(bool on) const {
        const int fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }

    QByteArray m_path;
    bool m_locked = false;
};

TEST(SideFile, WritableFileInAFolderThatRefusesNewFilesIsOverwrittenInPlace) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"camaras.txc"_s);
    writeBytes(path, "10.0.0.1\r\n");
    const LockedFolder folder(dir.path());
    if (!folder.locked())
        GTEST_SKIP() << "this system cannot make a folder refuse new files";

    SideFile(path).write(config::LineList::fromLines({u"10.0.0.2"_s, u"*"_s}));

    EXPECT_EQ(readBytes(path), QByteArray("10.0.0.2\r\n*\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{u"camaras.txc"_s});
}

TEST(SideFile, RaisesWhenTheFileCannotBeWritten) {
    QTemporaryDir dir;
    SideFile side(dir.filePath(u"missing/camaras.txc"_s));
    EXPECT_THROW(side.write(config::LineList::fromLines({u"*"_s})), StationError);
}

} // namespace
