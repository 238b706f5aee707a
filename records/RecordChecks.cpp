#include "records/RecordChecks.h"

using namespace Qt::StringLiterals;

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
    return (dimensions ? u"Con dim"_s : u"Sin dim"_s) + u'-' + (weight ? u"Con peso"_s : u"Sin peso"_s) +
           u'-' + (guide ? u"Con gu\u00eda"_s : u"Sin gu\u00eda"_s);
}

} // namespace records
