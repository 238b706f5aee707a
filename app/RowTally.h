#pragma once

#include "records/RecordSinks.h"

#include <QElapsedTimer>

#include <functional>
#include <utility>

namespace app {

// Counts what the database did with the rows handed to it, for the metrics, tells `refused` of
// every row it refused, and otherwise passes every row straight on to the real row store.
class RowTally final : public records::RowStore {
public:
    RowTally(records::RowStore& rows, std::function<void()> refused)
        : m_rows(rows)
        , m_onRefused(std::move(refused)) {
        m_sinceStart.start();
    }

    bool insertar(const QString& estatus_actual) override {
        const bool stored = m_rows.insertar(estatus_actual);
        if (stored) {
            ++m_stored;
            m_sinceLastRow.start();
        } else {
            ++m_refused;
            m_onRefused();
        }
        return stored;
    }
    double tiempoPromedio() const override { return m_rows.tiempoPromedio(); }

    quint64 stored() const { return m_stored; }
    quint64 refused() const { return m_refused; }
    // Since the last row the database accepted, or since the start while none has been: a station
    // that never stored a row looks as stalled as one that stopped storing.
    double secondsSinceLastRow() const {
        const QElapsedTimer& since = m_sinceLastRow.isValid() ? m_sinceLastRow : m_sinceStart;
        return double(since.elapsed()) / 1000.0;
    }

private:
    records::RowStore& m_rows;
    std::function<void()> m_onRefused;
    quint64 m_stored = 0;
    quint64 m_refused = 0;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceLastRow;
};

} // namespace app
