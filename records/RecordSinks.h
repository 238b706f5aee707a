#pragma once

#include <QString>

// What the record processor hands a record on to. Each is filled in by the part of the station
// that owns the work; tests put recorders in their place.
namespace records {

// The row of `paquetes` for an accepted record, built from the live panel.
class RowStore {
public:
    virtual ~RowStore() = default;
    // Builds the row and hands it on to the database; never waits for it. A row the database
    // later refuses is shown and dumped by the row store itself.
    virtual void insertar(const QString& estatus_actual) = 0;
    // `tiempo_promedio`: the running average of statement durations, in milliseconds.
    virtual double tiempoPromedio() const = 0;
};

// `grabar_logs`: the periodic raw-log save, called for every record of the serial origin.
class PeriodicLogSave {
public:
    virtual ~PeriodicLogSave() = default;
    virtual void grabar_logs() = 0;
};

// `evaluar_calidad`: the read-quality evaluation of an accepted record, with its dimension texts
// as read (before a rejected one shows "0").
class QualityEvaluation {
public:
    virtual ~QualityEvaluation() = default;
    virtual void evaluar_calidad(const QString& h, const QString& l, const QString& w) = 0;
};

} // namespace records
