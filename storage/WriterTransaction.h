#pragma once

#include "station/ProcessingTick.h"
#include "storage/RowOutbox.h"
#include "storage/RowWriter.h"

namespace storage {

// The database writer as the tick's transaction: the tick's cadence asks it to commit, and no line
// is taken while the outbox's disk refuses rows.
class WriterTransaction final : public station::TransactionControl {
public:
    WriterTransaction(RowWriter& writer, const RowOutbox& outbox)
        : m_writer(writer)
        , m_outbox(outbox) {}
    bool isActive() const override { return m_writer.hasUncommitted(); }
    void commit() override { m_writer.requestCommit(); }
    bool acceptsRows() const override { return !m_outbox.blocked(); }

private:
    RowWriter& m_writer;
    const RowOutbox& m_outbox;
};

} // namespace storage
