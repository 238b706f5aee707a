#pragma once

#include <QtGlobal>

namespace app {

// Where the processing tick stands: enough to tell a tick that keeps up from one that is stuck.
struct TickProgress {
    quint64 linesTaken = 0;    // lines the tick took off the queue so far; only grows
    bool linesWaiting = false; // lines wait that the tick should take (it runs, the rows can be kept)
};

} // namespace app
