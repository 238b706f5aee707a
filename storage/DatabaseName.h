#pragma once

#include <QString>

namespace storage {

// `Eddb` as a place: "host:path", "host/port:path" (or a client URL such as inet://...) names a
// database on a Firebird server; anything else is a database file on this machine, opened by the
// embedded engine, relative names against the working directory.
bool isLocalDatabase(QStringView eddb);

// The local database file as an absolute path.
QString localDatabasePath(const QString& eddb);

} // namespace storage
