#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>

#include <cstring>

namespace station {

// Cuts the bytes of one device connection into lines. A line ends at LF; one CR right before the LF
// goes with it. A line longer than kMaxLineBytes before its LF is cut: its first kMaxLineBytes bytes
// are handed out as the line as soon as that many have piled up, and the rest up to the next LF is
// dropped. The connection goes on with the line after it, so a device that glitches once loses
// nothing but the tail of that line, and one that never sends an LF never makes the station hold
// more than kMaxLineBytes of it.
class LineSplitter final {
public:
    static constexpr qsizetype kMaxLineBytes = 16384;

    enum class Result { Ok, LineCut };

    // Hands every complete line to onLine(QByteArrayView), in order, then keeps the rest for the next
    // call. LineCut: at least one line of these bytes was longer than allowed and was cut.
    template <typename OnLine> Result feed(QByteArrayView bytes, OnLine&& onLine);

    // The peer closed: what follows the last LF is not a line.
    void discardPartial() { m_pending.clear(); }

    qsizetype pendingSize() const { return m_pending.size(); }

    // One character per byte: ASCII keeps its code, any other byte becomes U+FFFD. `out` must hold
    // bytes.size() characters.
    static void decodeInto(QChar* out, QByteArrayView bytes);
    static QString decode(QByteArrayView bytes);

private:
    QByteArray m_pending;
    bool m_skipping = false; // dropping the rest of a cut line, up to its LF
};

template <typename OnLine> LineSplitter::Result LineSplitter::feed(QByteArrayView bytes, OnLine&& onLine) {
    Result result = Result::Ok;
    const char* start = bytes.data();
    const char* const end = start + bytes.size();
    while (start != end) {
        const auto* lf = static_cast<const char*>(std::memchr(start, '\n', size_t(end - start)));
        if (m_skipping) {
            if (!lf)
                break;
            m_skipping = false;
            start = lf + 1;
            continue;
        }
        const char* const lineEnd = lf ? lf : end;
        if (m_pending.size() + (lineEnd - start) > kMaxLineBytes) {
            const qsizetype kept = kMaxLineBytes - m_pending.size();
            m_pending.append(start, kept);
            onLine(QByteArrayView(m_pending));
            m_pending.resize(0);
            result = Result::LineCut;
            m_skipping = true;
            start += kept;
            continue;
        }
        if (!lf) {
            m_pending.append(start, end - start);
            break;
        }
        QByteArrayView line(start, lf - start);
        if (!m_pending.isEmpty()) {
            m_pending.append(line);
            line = m_pending;
        }
        if (line.endsWith('\r'))
            line.chop(1);
        onLine(line);
        m_pending.resize(0); // keeps its capacity for the next split line
        start = lf + 1;
    }
    return result;
}

} // namespace station
