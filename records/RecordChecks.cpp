#include "records/RecordChecks.h"

namespace records {

bool validar_campos(int expected, QStringView text, QStringView separator) {
    const bool doubled = !separator.isEmpty() && text.contains(separator.toString() + separator.toString());
    int count = 0;
    if (separator.size() == 1) {
        for (const QChar c : text)
            count += c == separator[0];
    }
    return count == expected && !doubled;
}

bool es_numero(QStringView text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const bool allowed = (c >= u'0' && c <= u'9') || c == u',' || c == u'-' || c == u'.' || c == u'E';
        if (!allowed)
            return false;
    }
    return !text.contains(u"..") && !text.contains(u",,");
}

QString StatusWords::text() const {
    return (dimensions ? QStringLiteral("Con dim") : QStringLiteral("Sin dim")) + u'-' +
           (weight ? QStringLiteral("Con peso") : QStringLiteral("Sin peso")) + u'-' +
           (guide ? QStringLiteral("Con gu\u00eda") : QStringLiteral("Sin gu\u00eda"));
}

} // namespace records
