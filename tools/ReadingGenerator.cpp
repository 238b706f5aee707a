#include "tools/ReadingGenerator.h"

#include <QString>

namespace tools {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZ0123456789";
constexpr QByteArrayView kRoute(" ROUTE ");

QByteArray decimal(double value, int width) {
    return QByteArray::number(value, 'f', 1).rightJustified(width, '0');
}

QByteArray placeholders(const QByteArray& text) {
    QByteArray out = text;
    for (char& c : out) {
        if (c != '.' && c != 'x')
            c = '?';
    }
    return out;
}

} // namespace

SentCounts& SentCounts::operator+=(const SentCounts& other) {
    lines += other.lines;
    bytes += other.bytes;
    malformed += other.malformed;
    failedGuide += other.failedGuide;
    failedCode += other.failedCode;
    failedWeight += other.failedWeight;
    failedDimensions += other.failedDimensions;
    return *this;
}

ReadingGenerator::ReadingGenerator(quint32 seed, int device, FailureRates rates, qsizetype extraBytes)
    : m_random(seed ^ (quint32(device) * 2654435761u))
    , m_device(device)
    , m_rates(rates)
    , m_extraBytes(extraBytes)
    , m_sequence(int(m_random.bounded(1000000))) {}

QByteArray ReadingGenerator::randomText(int length) {
    QByteArray text(length, Qt::Uninitialized);
    for (char& c : text)
        c = kAlphabet[m_random.bounded(int(sizeof kAlphabet) - 1)];
    return text;
}

QByteArray ReadingGenerator::next() {
    m_sequence = (m_sequence + 1) % 1000000;
    const QByteArray sequence = QByteArray::number(m_sequence).rightJustified(6, '0');
    const QByteArray fallback =
        randomText(22) + kRoute.toByteArray() + QByteArray::number(m_device).rightJustified(4, '0');

    QByteArray guide = randomText(22);
    if (chance(m_rates.guide)) {
        guide = QByteArray(22, '?');
        ++m_counts.failedGuide;
    }
    QByteArray code = "GUIA" + randomText(20);
    if (chance(m_rates.code)) {
        code = QByteArray(24, '?');
        ++m_counts.failedCode;
    }
    QByteArray weight = QByteArray::number(0.1 + m_random.bounded(99) / 10.0, 'f', 1);
    if (chance(m_rates.weight)) {
        weight = "???";
        ++m_counts.failedWeight;
    }
    const QByteArray plaza = 'P' + QByteArray::number(1 + m_random.bounded(99)).rightJustified(2, '0');
    const QByteArray group = code + '|' + weight + '|' + plaza; // 24 + 1 + 3 + 1 + 3
    QByteArray dimensions = decimal(1 + m_random.bounded(9990) / 10.0, 5) + 'x' +
                            decimal(1 + m_random.bounded(9990) / 10.0, 5) + 'x' +
                            decimal(1 + m_random.bounded(9990) / 10.0, 5);
    if (chance(m_rates.dimensions)) {
        dimensions = placeholders(dimensions);
        ++m_counts.failedDimensions;
    }

    QByteArray line;
    line.reserve(160);
    line += '\x02';
    line += "H00001!";
    line += sequence + '!' + fallback + '!' + guide + '!' + group + '!' + "A01" + '!' + dimensions;
    line += "\tXYZ\t";
    line += QByteArray(m_extraBytes, 'Z');
    if (chance(m_rates.malformed)) {
        line = malform(std::move(line));
        ++m_counts.malformed;
    }
    line += '\n';
    ++m_counts.lines;
    m_counts.bytes += quint64(line.size());
    return line;
}

QByteArray ReadingGenerator::malform(QByteArray line) {
    switch (m_random.bounded(3)) {
    case 0: // cut short
        return line.left(1 + m_random.bounded(int(line.size()) - 1));
    case 1: // separators lost
        line.replace('!', "");
        return line;
    default: // stray bytes, some of them outside plain ASCII
        for (int i = 0; i < 8; ++i) {
            const auto byte = char(0x80 + m_random.bounded(0x80));
            line.insert(m_random.bounded(int(line.size())), byte);
        }
        return line;
    }
}

int ReadingGenerator::deviceOf(QStringView line) {
    constexpr QStringView route(u" ROUTE ");
    const qsizetype at = line.indexOf(route);
    if (at < 0 || at + route.size() + 4 > line.size())
        return -1;
    bool ok = false;
    const int device = line.sliced(at + route.size(), 4).toString().toInt(&ok);
    return ok ? device : -1;
}

} // namespace tools
