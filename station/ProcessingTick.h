#pragma once

#include <QString>

namespace base {
class ErrorReport;
}
namespace station {

class IntakeQueue;
class LivePanel;
class TickTimer;

// What the tick hands each line to: `procesar_dato`, consuming frames from `buffer_trama`.
class FrameHandler {
public:
    virtual ~FrameHandler() = default;
    virtual void procesar_dato(QString& buffer_trama) = 0;
};

// The database's default transaction `TR`, as far as the tick sees it.
class TransactionControl {
public:
    virtual ~TransactionControl() = default;
    virtual bool isActive() const = 0;
    virtual void commit() = 0;
};

// `Timer1Timer`: takes at most one line from `L1` per tick, shows it on the status bar, hands it to
// the record processor and commits the open transaction on a fixed cadence.
class ProcessingTick final {
public:
    // Longest item that is dropped without processing.
    static constexpr qsizetype kShortestProcessed = 23;

    ProcessingTick(IntakeQueue& queue, LivePanel& panel, TickTimer& timer, FrameHandler& processor,
                   TransactionControl& transaction, base::ErrorReport& errors);

    void Timer1Timer();

    // Works off every queued line at once, without the timer's pacing (the close of the station).
    void drain();

    int contadorTicks() const { return m_contadorTicks; }
    QString& bufferTrama() { return m_bufferTrama; }

private:
    void work();

    IntakeQueue& m_queue;
    LivePanel& m_panel;
    TickTimer& m_timer;
    FrameHandler& m_processor;
    TransactionControl& m_transaction;
    base::ErrorReport& m_errors;

    QString m_bufferTrama;
    qint32 m_contadorTicks = 0;
};

} // namespace station
