#include "alerts/AddressList.h"

#include "alerts/HeaderText.h"
#include "alerts/MailError.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace alerts {

namespace {

// [rfc5321] 4.5.3.1.3: a path holds at most 256 octets, its angle brackets included.
constexpr qsizetype kMaxAddressOctets = 254;

bool usableAddress(QStringView address) {
    if (address.isEmpty() || address.size() > kMaxAddressOctets)
        return false;
    for (const QChar c : address)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F || c == u'<' || c == u'>')
            return false;
    return true;
}

// An entry's header form: the display name encoded when it needs to be, the address as it is.
QByteArray entryHeaderValue(QStringView entry) {
    const qsizetype open = entry.lastIndexOf(u'<');
    if (open <= 0)
        return entry.toLatin1();
    const QStringView name = entry.first(open).trimmed();
    return encodeHeaderText(name) + ' ' + entry.sliced(open).toLatin1();
}

} // namespace

AddressList AddressList::parse(QStringView text, QStringView what) {
    if (text.contains(u'\0'))
        throw MailError(u"Correo no enviado: %1 contiene un carácter nulo"_s.arg(what));
    static const QRegularExpression separators(u"[,;\\r\\n]"_s);
    AddressList list;
    for (const QString& part : text.toString().split(separators, Qt::SkipEmptyParts)) {
        const QString entry = part.trimmed();
        if (entry.isEmpty())
            continue;
        const qsizetype open = entry.lastIndexOf(u'<');
        const qsizetype close = entry.lastIndexOf(u'>');
        // Nothing may follow the address: it would go out as it is, 8-bit too, in a header that
        // says it is US-ASCII.
        if (open >= 0 && close > open && close + 1 < entry.size())
            throw MailError(
                u"Correo no enviado: texto después de la dirección en %1: '%2'"_s.arg(what, entry));
        // A second address in the display name would be read as one by the mail reader.
        const QStringView name = QStringView(entry).first(std::max<qsizetype>(open, 0));
        const QString address = addressOf(entry);
        if (!usableAddress(address) || name.contains(u'<') || name.contains(u'>'))
            throw MailError(u"Correo no enviado: dirección no válida en %1: '%2'"_s.arg(what, entry));
        list.m_entries.append(entry);
        list.m_addresses.append(address);
    }
    return list;
}

QString AddressList::addressOf(QStringView entry) {
    const qsizetype open = entry.lastIndexOf(u'<');
    const qsizetype close = entry.lastIndexOf(u'>');
    if (open >= 0 && close > open)
        return entry.sliced(open + 1, close - open - 1).trimmed().toString();
    return entry.trimmed().toString();
}

QByteArray AddressList::headerValue() const {
    QByteArray out;
    for (const QString& entry : m_entries) {
        if (!out.isEmpty())
            out += ", ";
        out += entryHeaderValue(entry);
    }
    return out;
}

} // namespace alerts
