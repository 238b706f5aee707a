#pragma once

#include "storage/DatabaseLogin.h"

#include <QString>
#include <QStringList>

namespace storage {

// The text of sql/paquetes.sql as built in.
const char* paquetesDdl();

// Its statements, comments left out and without their closing ";".
QStringList paquetesStatements();

// Creates the database named by `eddb` (a local file or a "host/port:path" on a server) with the
// table `paquetes`, logged in as `login`, in the station's dialect. Raises FirebirdError.
void createDatabase(const QString& eddb, const DatabaseLogin& login = DatabaseLogin::builtIn());

} // namespace storage
