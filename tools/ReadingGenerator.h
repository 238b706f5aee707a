#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QStringView>

#include <array>

namespace tools {

// How often a simulated device fails a field (each a probability from 0 to 1).
struct FailureRates {
    double guide = 0;      // the 22-character guide becomes "?" placeholders
    double code = 0;       // the code of the 32-character group
    double weight = 0;     // the weight of the 32-character group
    double dimensions = 0; // every digit of the dimension group
    double malformed = 0;  // the whole line is broken (cut short, separators lost or stray bytes)
};

// What one device has sent so far.
struct SentCounts {
    quint64 lines = 0;
    quint64 bytes = 0;
    quint64 malformed = 0;
    quint64 failedGuide = 0;
    quint64 failedCode = 0;
    quint64 failedWeight = 0;
    quint64 failedDimensions = 0;

    SentCounts& operator+=(const SentCounts& other);
};

// The lines one reading device sends, in the station's message format: STX, the header "H00001!",
// a 6-digit sequence number, the guide fallback slot, the 22-character guide, the 32-character
// code|weight|plaza group, a 3-character slot, the "HHH.HxLLL.LxWWW.W" dimension group, then TAB
// fields and LF. The device number stands in the fallback slot (" ROUTE nnnn"), so a receiver can
// tell the devices apart. The same seed and device give the same lines.
class ReadingGenerator final {
public:
    // `extraBytes` lengthens every line by a last field of that many bytes (long-line loads).
    ReadingGenerator(quint32 seed, int device, FailureRates rates = {}, qsizetype extraBytes = 0);

    // The next line, LF included.
    QByteArray next();

    const SentCounts& counts() const { return m_counts; }
    int device() const { return m_device; }

    // The device number a generated line carries, or -1.
    static int deviceOf(QStringView line);

private:
    bool chance(double rate) { return rate > 0 && m_random.generateDouble() < rate; }
    QByteArray randomText(int length);
    QByteArray malform(QByteArray line);

    QRandomGenerator m_random;
    int m_device;
    FailureRates m_rates;
    qsizetype m_extraBytes;
    int m_sequence;
    SentCounts m_counts;
};

} // namespace tools
