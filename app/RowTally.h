#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

namespace app {

// Counts what the database did with the rows handed to it, for the metrics.
class RowTally final {
public:
    RowTally() { m_sinceStart.start(); }

    void noteStored(qint64 rows, qint64 alreadyThere) {
        m_stored += quint64(rows - alreadyThere);
        m_alreadyThere += quint64(alreadyThere);
        m_sinceLastRow.start();
    }
    void noteRefused() { ++m_refused; }

    quint64 stored() const { return m_stored; }
    quint64 refused() const { return m_refused; }
    // Rows sent again after a commit whose outcome was unknown, that the database already had.
    quint64 alreadyThere() const { return m_alreadyThere; }
    // Since the last row the database accepted, or since the start while none has been: a station
    // that never stored a row looks as stalled as one that stopped storing.
    double secondsSinceLastRow() const {
        const QElapsedTimer& since = m_sinceLastRow.isValid() ? m_sinceLastRow : m_sinceStart;
        return double(since.elapsed()) / 1000.0;
    }

private:
    quint64 m_stored = 0;
    quint64 m_refused = 0;
    quint64 m_alreadyThere = 0;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceLastRow;
};

} // namespace app
