#include "alerts/SmtpReplyReader.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace alerts {

namespace {

SmtpReplyReader::Result tooLong(QString& error) {
    error = u"Respuesta del servidor de correo demasiado larga"_s;
    return SmtpReplyReader::Result::Invalid;
}

SmtpReplyReader::Result noReplyLine(const QByteArray& line, QString& error) {
    error = u"Respuesta no válida del servidor de correo: %1"_s.arg(QString::fromLatin1(line.left(200)));
    return SmtpReplyReader::Result::Invalid;
}

} // namespace

void SmtpReplyReader::clear() {
    m_received.clear();
    m_lines.clear();
    m_lineBytes = 0;
}

SmtpReplyReader::Result SmtpReplyReader::next(Reply& reply, QString& error) {
    while (true) {
        const qsizetype end = m_received.indexOf('\n');
        if (end < 0) {
            if (m_lineBytes + m_received.size() > kMaxReplyBytes)
                return tooLong(error);
            return Result::NeedMore;
        }
        QByteArray line = m_received.first(end);
        m_received.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        const bool numbered = line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3,
                                                              [](char c) { return c >= '0' && c <= '9'; });
        if (!numbered || (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
            return noReplyLine(line, error);
        // Every line of a multi-line reply carries the same code ([rfc5321] 4.2.1); one that does
        // not is a server out of step, whose reply cannot be told.
        if (!m_lines.isEmpty() && QStringView(m_lines.first()).first(3) != QLatin1StringView(line.first(3)))
            return noReplyLine(line, error);
        m_lineBytes += line.size() + 1;
        if (m_lineBytes > kMaxReplyBytes)
            return tooLong(error);
        m_lines.append(QString::fromLatin1(line));
        if (line.size() > 3 && line[3] == '-')
            continue;
        reply.code = line.first(3).toInt();
        reply.lines = std::exchange(m_lines, {});
        m_lineBytes = 0;
        return Result::Reply;
    }
}

} // namespace alerts
