#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstring>
#include <optional>
#include <type_traits>

namespace base {

// The journals' payloads: fixed-width numbers in the machine's own byte order (a journal never
// leaves the station that wrote it) and texts as UTF-8 with their length in front.
class ByteWriter {
public:
    explicit ByteWriter(QByteArray& out)
        : m_out(out) {}

    template <typename T>
    requires std::is_arithmetic_v<T> ByteWriter& put(T value) {
        std::memcpy(grow(sizeof value), &value, sizeof value);
        return *this;
    }
    // Every line and row goes through here on the tick: a text in plain ASCII, as devices send
    // them, is its own UTF-8 and is written in place, without a converted copy.
    ByteWriter& put(const QString& text) {
        const auto* const begin = reinterpret_cast<const char16_t*>(text.constData());
        const char16_t* const end = begin + text.size();
        if (std::all_of(begin, end, [](char16_t c) { return c < 0x80; })) {
            put(static_cast<quint32>(text.size()));
            std::copy(begin, end, grow(text.size()));
            return *this;
        }
        const QByteArray utf8 = text.toUtf8();
        put(static_cast<quint32>(utf8.size()));
        std::memcpy(grow(utf8.size()), utf8.constData(), std::size_t(utf8.size()));
        return *this;
    }

private:
    // Room for `n` more bytes at the end; where they go.
    char* grow(qsizetype n) {
        const qsizetype at = m_out.size();
        m_out.resize(at + n);
        return m_out.data() + at;
    }

    QByteArray& m_out;
};

// Reads what a ByteWriter wrote; every read past the end fails, and the reader stays failed.
class ByteReader {
public:
    explicit ByteReader(QByteArrayView in)
        : m_in(in) {}

    template <typename T>
    requires std::is_arithmetic_v<T>
    bool get(T& value) {
        if (!take(sizeof value))
            return false;
        std::memcpy(&value, m_in.data() + m_at - sizeof value, sizeof value);
        return true;
    }
    bool get(QString& text) {
        quint32 size = 0;
        if (!get(size) || !take(size))
            return false;
        text = QString::fromUtf8(m_in.sliced(m_at - size, size));
        return true;
    }
    bool atEnd() const { return m_ok && m_at == m_in.size(); }
    bool ok() const { return m_ok; }

private:
    bool take(qsizetype n) {
        if (!m_ok || m_in.size() - m_at < n) {
            m_ok = false;
            return false;
        }
        m_at += n;
        return true;
    }

    QByteArrayView m_in;
    qsizetype m_at = 0;
    bool m_ok = true;
};

} // namespace base
