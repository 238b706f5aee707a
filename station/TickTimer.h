#pragma once

namespace station {

// `Timer1`'s on/off contract: switching it on while on, or off while off, changes nothing; from off
// to on it starts a fresh period.
class TickTimer {
public:
    virtual ~TickTimer() = default;
    virtual void setEnabled(bool on) = 0;
    virtual bool isEnabled() const = 0;
    // Nothing is to be done until a line arrives: a timer that is on may stop firing until it is
    // woken or switched on again, and still counts as on.
    virtual void idle() {}
    // A backlog waits: a timer that is on may fire once more as soon as the events waiting on its
    // thread are handled, rather than a whole period later.
    virtual void hurry() {}
};

} // namespace station
