#pragma once

#include <QDateTime>

namespace base {

// The station's clock: what the panel shows and the file names carry. Tests put a clock of their
// own in its place.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace base
