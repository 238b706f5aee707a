#pragma once

#include <QElapsedTimer>

namespace base {

// A monotonic stopwatch: how long a statement took, how long rows have waited for their commit.
// Tests put one of their own in its place.
class Stopwatch {
public:
    virtual ~Stopwatch() = default;
    virtual void restart() = 0;
    // Elapsed time since the last restart, truncated to whole milliseconds.
    virtual qint64 elapsedMs() const = 0;
};

class SteadyStopwatch final : public Stopwatch {
public:
    void restart() override { m_timer.start(); }
    qint64 elapsedMs() const override { return m_timer.isValid() ? m_timer.elapsed() : 0; }

private:
    QElapsedTimer m_timer;
};

} // namespace base
