#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>

#include <cstring>

namespace station {

// Cuts the bytes of one device connection into lines. A line ends at LF; one CR right before the LF
// goes with it. A line longer than kMaxLineBytes before its LF can never be accepted, so the
// connection is given up as soon as that many bytes have piled up without an LF, not only when the
// LF finally arrives: a device that never sends one must not make the station hold its bytes forever.
class LineSplitter final {
public:
    static constexpr qsizetype kMaxLineBytes = 16384;

    enum class Result { Ok, LineTooLong };

    // Hands every complete line to onLine(QByteArrayView), in order, then keeps the rest for the next
    // call. LineTooLong is final: the lines before the long one were delivered, nothing after it is.
    template <typename OnLine> Result feed(QByteArrayView bytes, OnLine&& onLine);

    // The peer closed: what follows the last LF is not a line.
    void discardPartial() { m_pending.clear(); }

    qsizetype pendingSize() const { return m_pending.size(); }

    // One character per byte: ASCII keeps its code, any other byte becomes U+FFFD. `out` must hold
    // bytes.size() characters.
    static void decodeInto(QChar* out, QByteArrayView bytes);
    static QString decode(QByteArrayView bytes);

private:
    Result fail() {
        m_failed = true;
        m_pending.clear();
        return Result::LineTooLong;
    }

    QByteArray m_pending;
    bool m_failed = false;
};

template <typename OnLine> LineSplitter::Result LineSplitter::feed(QByteArrayView bytes, OnLine&& onLine) {
    if (m_failed)
        return Result::LineTooLong;
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    const char* start = begin;
    while (start != end) {
        const auto* lf = static_cast<const char*>(std::memchr(start, '\n', size_t(end - start)));
        if (!lf)
            break;
        QByteArrayView line(start, lf - start);
        if (!m_pending.isEmpty()) {
            m_pending.append(line);
            line = m_pending;
        }
        if (line.size() > kMaxLineBytes)
            return fail();
        if (line.endsWith('\r'))
            line.chop(1);
        onLine(line);
        m_pending.resize(0); // keeps its capacity for the next split line
        start = lf + 1;
    }
    if (m_pending.size() + (end - start) > kMaxLineBytes)
        return fail();
    m_pending.append(start, end - start);
    return Result::Ok;
}

} // namespace station
