#include "config/RegistryFile.h"

#include "config/ConfigError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace config {

namespace {

constexpr QStringView kOldHeader = u"REGEDIT4";
// regedit breaks long hex data into lines of at most 80 characters, continued with a backslash
// and indented by two spaces; it reads them back either way.
constexpr qsizetype kHexLineWidth = 80;

QString decodeText(QByteArrayView bytes) {
    if (bytes.startsWith("\xff\xfe"))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data() + 2),
                                  (bytes.size() - 2) / 2);
    auto decode = [](QStringConverter::Encoding encoding, QByteArrayView data) -> std::optional<QString> {
        QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
        QString text = decoder.decode(data);
        if (decoder.hasError())
            return std::nullopt;
        return text;
    };
    std::optional<QString> text;
    if (bytes.startsWith("\xef\xbb\xbf"))
        text = decode(QStringConverter::Utf8, bytes.sliced(3));
    else if (bytes.startsWith("\xfe\xff"))
        text = decode(QStringConverter::Utf16BE, bytes.sliced(2));
    else if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0')
        text = decode(QStringConverter::Utf16LE, bytes); // UTF-16LE that lost its mark
    else
        text = decode(QStringConverter::Utf8, bytes);
    if (!text)
        throw ConfigError(u"el texto no está en UTF-16 ni en UTF-8"_s);
    return *text;
}

// Splits at CR LF, lone CR or lone LF.
QList<QStringView> splitLines(QStringView text) {
    QList<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            lines.append(text.sliced(start, i - start));
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size())
        lines.append(text.sliced(start));
    return lines;
}

// The quoted text at the start of `in` (which starts with the opening quote), unescaped. `in` is
// moved past the closing quote. No value when the quote is never closed.
std::optional<QString> takeQuoted(QStringView& in) {
    QString out;
    for (qsizetype i = 1; i < in.size(); ++i) {
        const QChar c = in[i];
        if (c == u'"') {
            in = in.sliced(i + 1);
            return out;
        }
        if (c == u'\\' && i + 1 < in.size() && (in[i + 1] == u'\\' || in[i + 1] == u'"')) {
            out += in[++i];
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

QString quoted(QStringView text) {
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

std::optional<QByteArray> parseHexBytes(QStringView text) {
    QByteArray bytes;
    const QStringView trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return bytes;
    for (QStringView part : trimmed.split(u',')) {
        part = part.trimmed();
        if (part.isEmpty() || part.size() > 2)
            return std::nullopt;
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        bytes.append(static_cast<char>(byte));
    }
    return bytes;
}

// The value of a "name"=data line, or no value when the data is not understood. A deletion
// ("name"=-) comes back with `deleted` set.
struct ParsedValue {
    RegistryValue value;
    bool deleted = false;
};

std::optional<ParsedValue> parseValueLine(QStringView line) {
    ParsedValue parsed;
    QStringView rest = line;
    if (rest.startsWith(u'@')) {
        rest = rest.sliced(1);
    } else {
        std::optional<QString> name = takeQuoted(rest);
        if (!name)
            return std::nullopt;
        parsed.value.name = std::move(*name);
    }
    rest = rest.trimmed();
    if (!rest.startsWith(u'='))
        return std::nullopt;
    rest = rest.sliced(1).trimmed();

    if (rest == u"-") {
        parsed.deleted = true;
        return parsed;
    }
    if (rest.startsWith(u'"')) {
        std::optional<QString> text = takeQuoted(rest);
        if (!text || !rest.trimmed().isEmpty())
            return std::nullopt;
        parsed.value = RegistryValue::string(std::move(parsed.value.name), *text);
        return parsed;
    }
    if (rest.startsWith(u"dword:", Qt::CaseInsensitive)) {
        const QStringView digits = rest.sliced(6).trimmed();
        bool ok = false;
        const uint value = digits.toUInt(&ok, 16);
        if (!ok || digits.size() > 8)
            return std::nullopt;
        parsed.value = RegistryValue::dword(std::move(parsed.value.name), value);
        return parsed;
    }
    if (rest.startsWith(u"hex", Qt::CaseInsensitive)) {
        rest = rest.sliced(3);
        quint32 type = RegistryValue::Binary;
        if (rest.startsWith(u'(')) {
            const qsizetype close = rest.indexOf(u')');
            if (close < 0)
                return std::nullopt;
            bool ok = false;
            type = rest.sliced(1, close - 1).toUInt(&ok, 16);
            if (!ok)
                return std::nullopt;
            rest = rest.sliced(close + 1);
        }
        if (!rest.startsWith(u':'))
            return std::nullopt;
        std::optional<QByteArray> bytes = parseHexBytes(rest.sliced(1));
        if (!bytes)
            return std::nullopt;
        parsed.value.type = type;
        parsed.value.data = std::move(*bytes);
        return parsed;
    }
    return std::nullopt;
}

bool isHexValueLine(QStringView line) {
    QStringView rest = line;
    if (rest.startsWith(u'@')) {
        rest = rest.sliced(1);
    } else if (!rest.startsWith(u'"') || !takeQuoted(rest)) {
        return false;
    }
    rest = rest.trimmed();
    return rest.startsWith(u'=') && rest.sliced(1).trimmed().startsWith(u"hex", Qt::CaseInsensitive);
}

// A string that the quoted form can carry and give back as it was: one terminating NUL, no other
// NUL, and no line end (regedit would cut the value there on import).
std::optional<QString> plainString(const RegistryValue& value) {
    if (value.type != RegistryValue::String || value.data.size() % 2 != 0 || value.data.size() < 2)
        return std::nullopt;
    std::optional<QString> text = value.toString();
    if (!text || (text->size() + 1) * 2 != value.data.size())
        return std::nullopt;
    if (text->contains(u'\r') || text->contains(u'\n'))
        return std::nullopt;
    return text;
}

void appendHex(QString& out, QString head, const QByteArray& data) {
    QString line = std::move(head);
    for (qsizetype i = 0; i < data.size(); ++i) {
        const QString byte = QString::number(static_cast<uchar>(data[i]), 16).rightJustified(2, u'0');
        const bool last = i + 1 == data.size();
        // room for "xx," and the continuation backslash
        if (line.size() + 3 + 1 > kHexLineWidth && line.endsWith(u',')) {
            out += line + u"\\\r\n"_s;
            line = u"  "_s;
        }
        line += byte;
        if (!last)
            line += u',';
    }
    out += line + u"\r\n"_s;
}

QString valueText(const RegistryValue& value) {
    QString out = value.name.isEmpty() ? u"@"_s : quoted(value.name);
    out += u'=';
    if (const std::optional<QString> text = plainString(value))
        return out + quoted(*text) + u"\r\n"_s;
    if (const std::optional<quint32> dword = value.toDword())
        return out + u"dword:"_s + QString::number(*dword, 16).rightJustified(8, u'0') + u"\r\n"_s;
    QString result;
    const QString head =
        value.type == RegistryValue::Binary ? out + u"hex:"_s : out + u"hex(%1):"_s.arg(value.type, 0, 16);
    appendHex(result, head, value.data);
    return result;
}

QList<QStringView> pathNames(QStringView path) {
    return path.split(u'\\');
}

// Depth-first, each level in the order of its names, as regedit lists an exported tree.
bool pathLess(const RegistryKey& a, const RegistryKey& b) {
    const QList<QStringView> x = pathNames(a.path);
    const QList<QStringView> y = pathNames(b.path);
    for (qsizetype i = 0; i < std::min(x.size(), y.size()); ++i) {
        const int c = x[i].compare(y[i], Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
    }
    return x.size() < y.size();
}

bool isBelow(QStringView path, QStringView ancestor) {
    return path.size() > ancestor.size() && path[ancestor.size()] == u'\\' &&
           path.first(ancestor.size()).compare(ancestor, Qt::CaseInsensitive) == 0;
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

RegistryFile RegistryFile::parse(QByteArrayView bytes) {
    const QString text = decodeText(bytes);
    const QList<QStringView> lines = splitLines(text);

    RegistryFile file;
    qsizetype i = 0;
    while (i < lines.size() && lines[i].trimmed().isEmpty())
        ++i;
    if (i == lines.size())
        throw ConfigError(u"el archivo está vacío"_s);
    const QStringView header = lines[i].trimmed();
    if (header != kHeader && header != kOldHeader)
        throw ConfigError(u"no es un archivo de registro (falta \"%1\")"_s.arg(kHeader));
    ++i;

    RegistryKey* current = nullptr;
    bool inDeletedKey = false;
    for (; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i + 1);
        QString line = lines[i].trimmed().toString();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.lastIndexOf(u']');
            if (close < 0) {
                file.m_problems.append({lineNumber, line});
                current = nullptr;
                inDeletedKey = false;
                continue;
            }
            const QStringView path = QStringView(line).sliced(1, close - 1);
            if (path.startsWith(u'-')) {
                file.removeKey(path.sliced(1));
                current = nullptr;
                inDeletedKey = true;
                continue;
            }
            inDeletedKey = false;
            try {
                current = &file.createKey(path);
            } catch (const ConfigError&) {
                file.m_problems.append({lineNumber, line});
                current = nullptr;
            }
            continue;
        }
        if (isHexValueLine(line)) {
            while (line.endsWith(u'\\') && i + 1 < lines.size()) {
                line.chop(1);
                line += lines[++i].trimmed();
            }
        }
        if (inDeletedKey)
            continue;
        std::optional<ParsedValue> parsed = parseValueLine(line);
        if (!parsed || !current) {
            file.m_problems.append({lineNumber, line});
            continue;
        }
        if (parsed->deleted)
            current->remove(parsed->value.name);
        else
            current->set(std::move(parsed->value));
    }
    return file;
}

QByteArray RegistryFile::toBytes() const {
    std::vector<const RegistryKey*> ordered;
    ordered.reserve(m_keys.size());
    for (const RegistryKey& k : m_keys)
        ordered.push_back(&k);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const RegistryKey* a, const RegistryKey* b) { return pathLess(*a, *b); });

    QString text = kHeader.toString() + u"\r\n\r\n"_s;
    for (const RegistryKey* k : ordered) {
        text += u'[' + k->path + u"]\r\n"_s;
        for (const RegistryValue& v : k->values())
            text += valueText(v);
        text += u"\r\n"_s;
    }
    QByteArray bytes("\xff\xfe", 2);
    QStringEncoder encoder(QStringConverter::Utf16LE);
    bytes += encoder.encode(text);
    return bytes;
}

RegistryFile RegistryFile::read(const QString& path) {
    QFile f(path);
    if (!f.exists())
        return {};
    if (!f.open(QIODevice::ReadOnly))
        throw ConfigError(f.errorString());
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw ConfigError(f.errorString());
    return parse(bytes);
}

void RegistryFile::write(const QString& path, const std::function<void()>& beforeRename) const {
    const QByteArray bytes = toBytes();
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder))
        throw ConfigError(u"no se pudo crear la carpeta \"%1\""_s.arg(folder));

    // Created readable by the user only: the store holds the mail password.
    QTemporaryFile temp(folder + u'/' + info.fileName() + u".XXXXXX"_s);
    if (!temp.open())
        throw ConfigError(temp.errorString());
    if (temp.write(bytes) != bytes.size() || !temp.flush())
        throw ConfigError(temp.errorString());
    if (::fsync(temp.handle()) != 0)
        throw ConfigError(errnoText());
    if (beforeRename)
        beforeRename();
    const QByteArray from = QFile::encodeName(temp.fileName());
    const QByteArray to = QFile::encodeName(info.absoluteFilePath());
    if (std::rename(from.constData(), to.constData()) != 0)
        throw ConfigError(errnoText());
    temp.setAutoRemove(false);
    // The rename itself is on disk only once the folder is.
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

const RegistryKey* RegistryFile::key(QStringView path) const {
    for (const RegistryKey& k : m_keys) {
        if (QStringView(k.path).compare(path, Qt::CaseInsensitive) == 0)
            return &k;
    }
    return nullptr;
}

RegistryKey* RegistryFile::key(QStringView path) {
    return const_cast<RegistryKey*>(std::as_const(*this).key(path));
}

RegistryKey& RegistryFile::createKey(QStringView path) {
    const QList<QStringView> names = pathNames(path);
    if (std::any_of(names.begin(), names.end(), [](QStringView n) { return n.trimmed().isEmpty(); }))
        throw ConfigError(u"nombre de clave no válido: \"%1\""_s.arg(path));
    // Every key above it is listed too, as in an export of the whole tree; the hive is listed
    // only when it holds values itself.
    for (qsizetype n = names.size() == 1 ? 1 : 2; n <= names.size(); ++n) {
        const QStringView prefix = path.first(names[n - 1].data() + names[n - 1].size() - path.data());
        if (!key(prefix))
            m_keys.emplace_back(prefix.toString());
    }
    return *key(path);
}

bool RegistryFile::removeKey(QStringView path) {
    const auto before = m_keys.size();
    std::erase_if(m_keys, [&](const RegistryKey& k) {
        return QStringView(k.path).compare(path, Qt::CaseInsensitive) == 0 || isBelow(k.path, path);
    });
    return m_keys.size() != before;
}

bool RegistryFile::hasKey(QStringView path) const {
    return std::any_of(m_keys.begin(), m_keys.end(), [&](const RegistryKey& k) {
        return QStringView(k.path).compare(path, Qt::CaseInsensitive) == 0 || isBelow(k.path, path);
    });
}

} // namespace config
