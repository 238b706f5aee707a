#include "alerts/MailMessage.h"

#include "alerts/AddressList.h"
#include "alerts/HeaderText.h"
#include "alerts/MailError.h"

using namespace Qt::StringLiterals;

namespace alerts {

namespace {

void appendHeader(QByteArray& out, const QByteArray& name, const QByteArray& value) {
    out += headerField(name, value);
}

QByteArray asciiLine(QStringView line) {
    QByteArray out;
    out.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char16_t c = line[i].unicode();
        if ((c >= 0x20 && c < 0x7F) || c == u'\t') {
            out += static_cast<char>(c);
            continue;
        }
        char32_t code = c;
        if (QChar::isHighSurrogate(c) && i + 1 < line.size() && line[i + 1].isLowSurrogate())
            code = QChar::surrogateToUcs4(c, line[++i].unicode());
        else if (c < 0x20 || c == 0x7F || QChar::isSurrogate(c))
            code = 0xFFFD; // a control character or a broken pair has no place in HTML text
        out += "&#" + QByteArray::number(static_cast<uint>(code)) + ';';
    }
    return out;
}

} // namespace

QList<QByteArray> MailMessage::wireLines(QStringView line) {
    QByteArray rest = asciiLine(line);
    QList<QByteArray> lines;
    while (rest.size() > kMaxLineOctets) {
        // A line end stands for a blank in HTML: cutting at a blank changes nothing on screen.
        qsizetype cut = rest.lastIndexOf(' ', kMaxLineOctets);
        qsizetype skip = 1;
        if (cut <= 0) {
            cut = kMaxLineOctets;
            skip = 0;
            // Never inside a character reference.
            const qsizetype amp = rest.lastIndexOf('&', cut - 1);
            if (amp > 0 && cut - amp < 12 && rest.indexOf(';', amp) >= cut)
                cut = amp;
        }
        lines.append(rest.first(cut));
        rest.remove(0, cut + skip);
    }
    lines.append(rest);
    return lines;
}

QByteArray MailMessage::dateHeaderValue(const QDateTime& when) {
    static constexpr const char* kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = when.date();
    const QTime t = when.time();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    return QByteArray(kDays[d.dayOfWeek() - 1]) + ", " + QByteArray::number(d.day()) + ' ' +
           kMonths[d.month() - 1] + ' ' + QByteArray::number(d.year()) + ' ' +
           QByteArray::number(t.hour()).rightJustified(2, '0') + ':' +
           QByteArray::number(t.minute()).rightJustified(2, '0') + ':' +
           QByteArray::number(t.second()).rightJustified(2, '0') + ' ' + (offsetMinutes < 0 ? '-' : '+') +
           QByteArray::number(absolute / 60).rightJustified(2, '0') +
           QByteArray::number(absolute % 60).rightJustified(2, '0');
}

MailMessage MailMessage::compose(const MailRequest& request, const QStringList& bodyLines,
                                 const Options& options, const QDateTime& now) {
    refuseLineBreaks(request.From_text, u"el remitente");
    refuseLineBreaks(request.Replay_to, u"la dirección de respuesta");
    refuseLineBreaks(request.Asunto, u"el asunto");

    const AddressList from = AddressList::parse(request.From_text, u"el remitente");
    if (from.entries().size() != 1)
        throw MailError(
            u"Correo no enviado: el remitente debe ser una sola dirección: '%1'"_s.arg(request.From_text));
    const AddressList replyTo = AddressList::parse(request.Replay_to, u"la dirección de respuesta");
    const AddressList to = AddressList::parse(request.To_text, u"los destinatarios");
    const AddressList cc = AddressList::parse(request.CC, u"la copia");
    const AddressList bcc = AddressList::parse(options.bcc, u"la copia oculta");

    MailMessage message;
    message.m_sender = from.addresses().constFirst();
    message.m_recipients = to.addresses() + cc.addresses() + bcc.addresses();
    if (message.m_recipients.isEmpty())
        throw MailError(u"Correo no enviado: la lista de destinatarios está vacía"_s);

    QByteArray& out = message.m_content;
    appendHeader(out, "From", from.headerValue());
    if (!to.isEmpty())
        appendHeader(out, "To", to.headerValue());
    if (!cc.isEmpty())
        appendHeader(out, "Cc", cc.headerValue());
    appendHeader(out, "Subject", encodeHeaderText(request.Asunto));
    if (!replyTo.isEmpty())
        appendHeader(out, "Reply-To", replyTo.headerValue());
    appendHeader(out, "Organization", kOrganization.toLatin1());
    appendHeader(out, "Date", dateHeaderValue(now));
    appendHeader(out, "MIME-Version", "1.0");
    appendHeader(out, "Content-Type", "text/html; charset=us-ascii");
    appendHeader(out, "Content-Transfer-Encoding", "7bit");
    if (options.returnReceipt) {
        const QByteArray address = "<" + message.m_sender.toLatin1() + ">";
        appendHeader(out, "Disposition-Notification-To", address);
        appendHeader(out, "Return-Receipt-To", address);
    }
    for (const auto& [name, value] : priorityHeaders(options.priority))
        appendHeader(out, name, value);
    out += "\r\n";
    for (const QString& line : bodyLines)
        for (const QByteArray& wire : wireLines(line))
            out += wire + "\r\n";
    return message;
}

} // namespace alerts
