#pragma once

#include <QList>
#include <QString>

#include <variant>

namespace storage {

// A value handed to a statement as a parameter: NULL, a text (narrowed to the code page on its way)
// or a number.
using StatementValue = std::variant<std::monostate, QString, double>;
using StatementValues = QList<StatementValue>;

// The statement with every "?" marker outside quoted text replaced by its value written as a
// literal (texts quoted with inner apostrophes doubled), so that it can be replayed by hand.
QString statementWithValues(const QString& sql, const StatementValues& values);

} // namespace storage
