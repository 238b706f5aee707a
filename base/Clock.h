#pragma once

#include <QDateTime>
#include <QtGlobal>

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

// While TZ is unset, the C library looks at /etc/localtime again at every conversion to local time:
// a stat of the file, several times for each parcel. Naming that file in TZ has it read once. The
// program's start calls this before anything reads the time; a change of the machine's time zone
// then takes a restart of the station, as on the original platform.
inline void pinLocalTimeZone() {
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
}

} // namespace base
