#pragma once

// Readable Qt values in test failure messages; included into every test source.
#include <QString>
#include <QStringView>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(QStringView s, std::ostream* os) { *os << '"' << s.toString().toStdString() << '"'; }
