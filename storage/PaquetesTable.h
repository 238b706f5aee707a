#pragma once

#include <QString>
#include <QStringList>

namespace storage {

// The text of sql/paquetes.sql as built in.
const char* paquetesDdl();

// Its statements, comments left out and without their closing ";".
QStringList paquetesStatements();

// Creates the database named by `eddb` (a local file or a "host/port:path" on a server) with the
// table `paquetes`, with the station's user, password and dialect. Raises FirebirdError.
void createDatabase(const QString& eddb);

} // namespace storage
