#pragma once

#include "storage/PendingRow.h"
#include "storage/StatementValue.h"

#include <span>

namespace storage {

// The insert of a pending row into `paquetes`, its values as parameters. A row that goes at once
// takes its date and time from the server's clock, as every row always did; a row that goes late
// (after a lost connection or a restart) carries the moment the station processed it. Where the
// table has `id_lectura`, the row's reading identity goes with it.
struct PaquetesInsert {
    QString sql;
    StatementValues values;

    static PaquetesInsert of(const PendingRow& row, bool late, bool withIdentity);
    // Rows that go at once, in one statement: a single round trip to the server for all of them.
    // Each row is stored as of() would store it; the statement fails as a whole when one row fails.
    static PaquetesInsert together(std::span<const PendingRow* const> rows, bool withIdentity);
};

} // namespace storage
