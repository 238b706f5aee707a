#include "base/IntegerText.h"

#include "base/Error.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace base {

QString notValidIntegerMessage(QStringView text) {
    return u"'%1' is not a valid integer value"_s.arg(text);
}

qint64 toInteger(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        throw Error(notValidIntegerMessage(text));
    qint64 value = 0;
    constexpr qint64 kLimit = std::numeric_limits<qint64>::max() / 10 - 9;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9' || value > kLimit)
            throw Error(notValidIntegerMessage(text));
        value = value * 10 + (c - u'0');
    }
    return negative ? -value : value;
}

} // namespace base
