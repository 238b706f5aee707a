#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace alerts {

// Cuts what an SMTP server sends into its replies: lines of a three-digit code, the same on every
// line, "-" on every line but the last ([rfc5321] 4.2.1), the text after it. A reply that runs on without end
// is no server talking: a line or a multi-line reply beyond kMaxReplyBytes is refused, so a hostile server
// costs bounded memory.
class SmtpReplyReader final {
public:
    static constexpr qsizetype kMaxReplyBytes = 64 * 1024;

    struct Reply {
        int code = 0;
        QStringList lines; // every line of the reply, code included
    };

    enum class Result { NeedMore, Reply, Invalid };

    void append(QByteArrayView bytes) { m_received += bytes; }
    void clear();

    // The next complete reply, when there is one; Invalid (with the operator's text in `error`) for
    // a line that is no reply line or a reply beyond its bound, after which the reader is spent
    // until `clear`.
    Result next(Reply& reply, QString& error);

private:
    QByteArray m_received;
    QStringList m_lines;
    qsizetype m_lineBytes = 0; // bytes of m_lines
};

} // namespace alerts
