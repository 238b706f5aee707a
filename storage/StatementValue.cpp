#include "storage/StatementValue.h"

#include <QLocale>

using namespace Qt::StringLiterals;

namespace storage {

namespace {

QString literal(const StatementValue& valor) {
    if (const auto* text = std::get_if<QString>(&valor))
        return u'\'' + QString(*text).replace(u'\'', u"''"_s) + u'\'';
    if (const auto* number = std::get_if<double>(&valor))
        return QLocale::c().toString(*number, 'g', QLocale::FloatingPointShortest);
    return u"NULL"_s;
}

} // namespace

QString statementWithValues(const QString& sql, const StatementValues& values) {
    QString out;
    out.reserve(sql.size() + 16 * values.size());
    qsizetype next = 0;
    bool quoted = false;
    for (const QChar c : sql) {
        if (c == u'\'')
            quoted = !quoted;
        if (c == u'?' && !quoted && next < values.size())
            out += literal(values.at(next++));
        else
            out += c;
    }
    return out;
}

} // namespace storage
