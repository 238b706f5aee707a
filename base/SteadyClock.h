#pragma once

#include <chrono>

namespace base {

// A clock that only moves forward, for how long something has waited; the wall clock may be set
// back. Tests put a clock of their own in its place.
class SteadyClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~SteadyClock() = default;
    virtual TimePoint now() const = 0;
};

class SystemSteadyClock final : public SteadyClock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

} // namespace base
