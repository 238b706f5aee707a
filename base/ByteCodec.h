#pragma once

#include <QByteArray>
#include <QString>

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
        m_out.append(reinterpret_cast<const char*>(&value), sizeof value);
        return *this;
    }
    ByteWriter& put(const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        put(static_cast<quint32>(utf8.size()));
        m_out.append(utf8);
        return *this;
    }

private:
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
