#include "records/RecordChecks.h"

#include <array>

using namespace Qt::StringLiterals;

namespace records {

bool validar_campos(int expected, QStringView text, QStringView separator) {
    if (separator.size() != 1) {
        // No single character to count: only a doubled separator can show.
        const bool doubled =
            !separator.isEmpty() && text.contains(separator.toString() + separator.toString());
        return expected == 0 && !doubled;
    }
    const QChar mark = separator[0];
    int count = 0;
    bool doubled = false;
    bool previous = false;
    for (const QChar c : text) {
        const bool here = c == mark;
        doubled = doubled || (here && previous);
        count += here;
        previous = here;
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
    // Eight texts in all, made once: the tick asks for one with every record.
    static const std::array<QString, 8> texts = [] {
        std::array<QString, 8> all;
        for (int i = 0; i < 8; ++i)
            all[std::size_t(i)] = ((i & 4) ? u"Con dim"_s : u"Sin dim"_s) + u'-' +
                                  ((i & 2) ? u"Con peso"_s : u"Sin peso"_s) + u'-' +
                                  ((i & 1) ? u"Con gu\u00eda"_s : u"Sin gu\u00eda"_s);
        return all;
    }();
    return texts[std::size_t((dimensions ? 4 : 0) | (weight ? 2 : 0) | (guide ? 1 : 0))];
}

} // namespace records
