#include "config/RegistryFile.h"
#include "config/ConfigError.h"
#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using config::ConfigError;
using config::RegistryFile;
using config::RegistryValue;

namespace {

const QString kVuruvov = u"HKEY_CURRENT_USER\\Software\\Tarvenix\\OrvaneDB\\Vuruvov"_s;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray utf16(const QString& text) {
    QByteArray b("\xff\xfe", 2);
    b.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return b;
}

} // namespace

TEST(RegistryFile, ReadsAWindowsExportAsItIs) {
    const RegistryFile file = RegistryFile::read(QString::fromUtf8(ORVANE_TEST_DATA "/vuruvov-export.reg"));
    EXPECT_TRUE(file.problems().isEmpty());
    const config::RegistryKey* key = file.key(kVuruvov);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->find(u"Eddb_Text")->toString(), u"localhost:c:\\ROVEZOD30.FDB"_s);
    EXPECT_EQ(key->find(u"EdMailPass_Text")->toString(), u"cl\"ave\\9"_s);
    EXPECT_EQ(key->find(u"EdAsunto_Text")->toString(), u"Fallas de lectura – línea 2"_s);
    EXPECT_EQ(key->find(u"apdcomport1_baud")->toDword(), 9600u); // names compare without case
    EXPECT_EQ(key->find(u"evc128_Value")->toBinary(), QByteArray::fromHex("00000000000000a00140"));
    EXPECT_FALSE(key->find(u"evc128_Value")->toString().has_value());
    const config::RegistryKey* cams = file.key(kVuruvov + u"\\LOGCAMNOMBRE_LINES"_s);
    ASSERT_NE(cams, nullptr);
    EXPECT_EQ(cams->find(u"Item1")->toString(), u"10.0.3.42=Cámara sur"_s);
    EXPECT_TRUE(file.hasKey(u"HKEY_CURRENT_USER\\Software\\Tarvenix"));
}

TEST(RegistryFile, WritesWhatRegeditImportsAndReadsItBack) {
    RegistryFile file;
    config::RegistryKey& key = file.createKey(kVuruvov);
    key.set(RegistryValue::string(u"Quote \"and\" \\back"_s, u"C:\\Datos \"Orvane\"\\"));
    key.set(RegistryValue::string(QString(), u"default"));
    key.set(RegistryValue::string(u"Empty"_s, u""));
    key.set(RegistryValue::string(u"TwoLines"_s, u"uno\r\ndos"));
    key.set(RegistryValue::dword(u"Big"_s, 0xfffffffeu));
    QByteArray blob;
    for (int i = 0; i < 70; ++i)
        blob.append(static_cast<char>(i));
    key.set(RegistryValue::binary(u"Blob"_s, blob));
    key.set(RegistryValue{u"Quad"_s, RegistryValue::Qword, QByteArray::fromHex("0100000000000080")});
    key.set(RegistryValue::binary(u"Nothing"_s, {}));

    const QByteArray bytes = file.toBytes();
    ASSERT_TRUE(bytes.startsWith("\xff\xfe"));
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
    EXPECT_TRUE(
        text.startsWith(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n"_s));
    EXPECT_TRUE(text.contains(u"\"Quote \\\"and\\\" \\\\back\"=\"C:\\\\Datos \\\"Orvane\\\"\\\\\"\r\n"_s));
    EXPECT_TRUE(text.contains(u"@=\"default\"\r\n"_s));
    EXPECT_TRUE(text.contains(u"\"Big\"=dword:fffffffe\r\n"_s));
    // A line end inside a string would cut it on import: it goes as the string's bytes.
    EXPECT_TRUE(text.contains(u"\"TwoLines\"=hex(1):75,00,6e,00"_s));
    EXPECT_TRUE(text.contains(u",\\\r\n  "_s)); // long data continued as regedit does
    EXPECT_TRUE(text.contains(u"\"Quad\"=hex(b):01,00,00,00,00,00,00,80\r\n"_s));
    EXPECT_TRUE(text.contains(u"\"Nothing\"=hex:\r\n"_s));
    EXPECT_FALSE(text.contains(QRegularExpression(u"[^\r]\n"_s)));

    const RegistryFile back = RegistryFile::parse(bytes);
    EXPECT_TRUE(back.problems().isEmpty());
    ASSERT_NE(back.key(kVuruvov), nullptr);
    EXPECT_EQ(back.key(kVuruvov)->values(), key.values());
    EXPECT_EQ(back.key(kVuruvov)->find(u"TwoLines")->toString(), u"uno\r\ndos"_s);
}

TEST(RegistryFile, ReadsUtf8WithOrWithoutMarkAndAppliesDeletions) {
    const QByteArray body = "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_CURRENT_USER\\Software\\A]\n"
                            "\"Texto\"=\"se\xc3\xb1"
                            "al\"\n"
                            "\"Borrado\"=\"x\"\n"
                            "\"Borrado\"=-\n"
                            "\"Partido\"=hex:01,02,\\\n"
                            "  03\n"
                            "[HKEY_CURRENT_USER\\Software\\A\\Quitada]\n"
                            "\"v\"=dword:1\n"
                            "[-HKEY_CURRENT_USER\\Software\\A\\Quitada]\n";
    for (const QByteArray& bytes : {body, QByteArray("\xef\xbb\xbf") + body}) {
        const RegistryFile file = RegistryFile::parse(bytes);
        EXPECT_TRUE(file.problems().isEmpty());
        const config::RegistryKey* a = file.key(u"HKEY_CURRENT_USER\\Software\\A");
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->find(u"Texto")->toString(), u"señal"_s);
        EXPECT_EQ(a->find(u"Borrado"), nullptr);
        EXPECT_EQ(a->find(u"Partido")->toBinary(), QByteArray("\x01\x02\x03"));
        EXPECT_FALSE(file.hasKey(u"HKEY_CURRENT_USER\\Software\\A\\Quitada"));
    }
}

TEST(RegistryFile, RefusesWhatIsNoExportAndSkipsLinesItDoesNotUnderstand) {
    EXPECT_THROW(RegistryFile::parse(QByteArray("[HKEY_CURRENT_USER\\Software]\r\n\"a\"=\"b\"\r\n")),
                 ConfigError);
    EXPECT_THROW(RegistryFile::parse(QByteArray()), ConfigError);
    EXPECT_THROW(RegistryFile::parse(QByteArray("Windows Registry Editor Version 5.00\r\n\xff\xfe\xfd")),
                 ConfigError);

    const RegistryFile file = RegistryFile::parse(utf16(u"Windows Registry Editor Version 5.00\r\n"
                                                        u"\"antes\"=\"de una clave\"\r\n"
                                                        u"[HKEY_CURRENT_USER\\Software\\A]\r\n"
                                                        u"\"bueno\"=dword:00000001\r\n"
                                                        u"\"malo\"=dword:zz\r\n"
                                                        u"\"sin cierre=\"x\"\r\n"
                                                        u"; un comentario\r\n"
                                                        u"\"otro\"=\"bien\"\r\n"_s));
    ASSERT_EQ(file.problems().size(), 3);
    EXPECT_EQ(file.problems()[0].line, 2);
    EXPECT_EQ(file.problems()[1].line, 5);
    EXPECT_EQ(file.problems()[2].line, 6);
    const config::RegistryKey* a = file.key(u"HKEY_CURRENT_USER\\Software\\A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->find(u"bueno")->toDword(), 1u);
    EXPECT_EQ(a->find(u"otro")->toString(), u"bien"_s);
}

TEST(RegistryFile, AWriteBrokenOffBeforeItsRenameLeavesThePreviousFileIntact) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"Tarvenix/OrvaneDB.reg"_s);

    RegistryFile first;
    first.createKey(kVuruvov).set(RegistryValue::string(u"Edpuerto_Text"_s, u"5010"));
    first.write(path);
    const QByteArray before = readAll(path);
    ASSERT_EQ(before, first.toBytes());
    EXPECT_EQ(QFile::permissions(path) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);

    RegistryFile second = first;
    second.createKey(kVuruvov).set(RegistryValue::string(u"Edpuerto_Text"_s, u"6000"));
    EXPECT_THROW(second.write(path, [] { throw ConfigError(u"disco lleno"_s); }), ConfigError);
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(QDir(dir.filePath(u"Tarvenix"_s)).entryList(QDir::Files), QStringList{u"OrvaneDB.reg"_s});

    second.write(path);
    EXPECT_EQ(RegistryFile::read(path).key(kVuruvov)->find(u"Edpuerto_Text")->toString(), u"6000"_s);
}
