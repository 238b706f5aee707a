#include "base/IntegerText.h"

#include "base/Error.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace base {

QString notValidIntegerMessage(QStringView text) {
    return u"'%1' is not a valid integer value"_s.arg(text);
}

qint32 toInteger(QStringView text) {
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
    // Worked in 64 bits and checked against the 32-bit range at every digit: a wider text fails
    // as a whole rather than coming back cut to its low bits.
    constexpr qint64 kLimit = qint64(std::numeric_limits<qint32>::max()) + 1;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            throw Error(notValidIntegerMessage(text));
        value = value * 10 + (c - u'0');
        if (value > kLimit)
            throw Error(notValidIntegerMessage(text));
    }
    if (!negative && value == kLimit)
        throw Error(notValidIntegerMessage(text));
    return static_cast<qint32>(negative ? -value : value);
}

} // namespace base
