#pragma once

#include "storage/StatementValue.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace storage {

// A row of `paquetes` on its way to the database: the values the station worked out for one
// record, the moment it did so by the station's clock, and the identity of the reading it came
// from. A row that reaches the database late carries that moment instead of the server's.
struct PendingRow {
    QString lectura;        // the reading's identity, stored in `id_lectura`
    QDateTime processedAt;  // local time of the station
    StatementValues values; // plaza, origen, paquete, the five numbers, estatus

    QByteArray encoded() const;
    // Nothing when the bytes are no row this station wrote.
    static std::optional<PendingRow> decoded(QByteArrayView bytes);

    friend bool operator==(const PendingRow&, const PendingRow&) = default;
};

} // namespace storage
