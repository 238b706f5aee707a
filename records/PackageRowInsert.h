#pragma once

#include "records/RecordSinks.h"
#include "storage/StatementValue.h"

namespace base {
class Clock;
}
namespace station {
class LivePanel;
} // namespace station

namespace storage {
class FileCounter;
class StatementExecutor;
} // namespace storage

namespace records {

// The row of `paquetes` for an accepted record, built from what the live panel shows, run through
// the executor inside its open transaction. The values travel as parameters, so that whatever a
// guide, plaza or camera name holds is stored as read and never changes the statement. A refused
// row is shown in Label54 and left, with its values written in, in Query-fallido-DDMMYYYY-hh-NN.txt
// in the working directory, so that it can be replayed by hand.
class PackageRowInsert final : public RowStore {
public:
    // The statement: texts and numbers as "?" markers, date and time from the server's clock.
    static const QString kSentencia;

    PackageRowInsert(station::LivePanel& panel, storage::StatementExecutor& executor,
                     storage::FileCounter& contador_archivo, const base::Clock& clock);

    bool insertar(const QString& estatus_actual) override;
    double tiempoPromedio() const override;

    // The row's values in the order of the markers.
    storage::StatementValues values(const QString& estatus_actual) const;

    // A number as the panel shows it ("012.5"), with "." or "," as its decimal separator whatever
    // the locale; a text the number test let through that is no number after all ("-", "E") is
    // stored as 0 rather than losing the row.
    static double numero(const QString& shown);

private:
    void dejarVolcado(const QString& sentencia) const;

    station::LivePanel& m_panel;
    storage::StatementExecutor& m_executor;
    storage::FileCounter& m_contador;
    const base::Clock& m_clock;
};

} // namespace records
