#pragma once

#include <QDateTime>
#include <QString>

namespace base {

// Where a copy of a user's file is set aside before the station writes over it:
// "<path>.yyyyMMdd-HHmmss.bak", with "-2", "-3"… added when that name is taken already.
QString asideName(const QString& path, const QDateTime& now);

// Where a damaged journal is set aside before the station writes a sound one in its place:
// "<path>.dañado-yyyyMMdd-HHmmss", with "-2", "-3"… added when that name is taken already.
QString damagedName(const QString& path, const QDateTime& now);

// Where a journal in an earlier version's format is kept before it is written in the present one:
// "<path>.anterior-yyyyMMdd-HHmmss", with "-2", "-3"… added when that name is taken already.
QString formerFormatName(const QString& path, const QDateTime& now);

} // namespace base
