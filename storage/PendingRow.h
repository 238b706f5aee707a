#pragma once

#include "storage/StatementValue.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace storage {

// A moment as the station's clock showed it: the local date and time of day, with no time zone to
// resolve (building a local QDateTime asks the system for the offset every time).
struct LocalMoment {
    QDate date;
    QTime time;

    LocalMoment() = default;
    LocalMoment(QDate d, QTime t)
        : date(d)
        , time(t) {}
    // The clock's reading, as the station hands it over.
    LocalMoment(const QDateTime& t) // NOLINT(google-explicit-constructor)
        : date(t.date())
        , time(t.time()) {}

    friend bool operator==(const LocalMoment&, const LocalMoment&) = default;
};

// A row of `paquetes` on its way to the database: the values the station worked out for one
// record, the moment it did so by the station's clock, and the identity of the reading it came
// from. A row that reaches the database late carries that moment instead of the server's.
struct PendingRow {
    QString lectura;         // the reading's identity, stored in `id_lectura`
    LocalMoment processedAt; // local time of the station
    StatementValues values;  // plaza, origen, paquete, the five numbers, estatus

    QByteArray encoded() const;
    // Nothing when the bytes are no row this station wrote.
    static std::optional<PendingRow> decoded(QByteArrayView bytes);

    friend bool operator==(const PendingRow&, const PendingRow&) = default;
};

} // namespace storage
