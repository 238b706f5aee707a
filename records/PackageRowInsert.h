#pragma once

#include "base/LineId.h"
#include "records/RecordSinks.h"
#include "storage/PendingRow.h"
#include "storage/StatementValue.h"

#include <functional>

namespace base {
class Clock;
}
namespace station {
class LivePanel;
} // namespace station

namespace storage {
class FileCounter;
class RowOutbox;
class RowWriter;
} // namespace storage

namespace records {

// The row of `paquetes` for an accepted record, built from what the live panel shows, stamped with
// the moment it was processed and the identity of the line it came from, and handed to the
// database writer through the row outbox: the tick never waits on the database. The values travel
// as parameters, so that whatever a guide, plaza or camera name holds is stored as read and never
// changes the statement. A row the database refuses comes back here: it is shown in Label54 and
// left, with its values written in, in Query-fallido-DDMMYYYY-hh-NN.txt in the working directory,
// so that it can be replayed by hand.
class PackageRowInsert final : public RowStore {
public:
    // `lineInHand` names the line the tick is working.
    PackageRowInsert(station::LivePanel& panel, storage::RowOutbox& outbox, storage::RowWriter& writer,
                     std::function<base::LineId()> lineInHand, storage::FileCounter& contador_archivo,
                     const base::Clock& clock);

    void insertar(const QString& estatus_actual) override;
    double tiempoPromedio() const override;

    // The database refused a row for good: Label54 and the dump. Raises StationError when the
    // dump cannot be written.
    void refused(const QString& statement, const QString& error);

    // The row's values as the panel shows them, in the order of the statement's markers.
    static storage::StatementValues values(const station::LivePanel& panel, const QString& estatus_actual);

    // A number as the panel shows it ("012.5"), with "." or "," as its decimal separator whatever
    // the locale; a text the number test let through that is no number after all ("-", "E") is
    // stored as 0 rather than losing the row.
    static double numero(const QString& shown);

    // The row's `id_lectura`: the line's identity, and which of its records it is when a line
    // holds more than one.
    QString lectura();

private:
    void dejarVolcado(const QString& error, const QString& sentencia) const;

    station::LivePanel& m_panel;
    storage::RowOutbox& m_outbox;
    storage::RowWriter& m_writer;
    std::function<base::LineId()> m_lineInHand;
    base::LineId m_lastLine;
    int m_recordOfLine = 0;
    storage::FileCounter& m_contador;
    const base::Clock& m_clock;
};

} // namespace records
