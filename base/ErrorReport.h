#pragma once

#include "base/Error.h"

#include <QObject>
#include <QString>

namespace base {

// How much a report matters, as syslog ranks it (the numbers are syslog's): a failure is an error;
// what the station works around (a stored value it cannot use, an alert mail that did not go) is a
// warning; a fault that went away (the database back, a port open again) is a notice.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// The application's general error report. The core hands every failure that escapes a tick, a
// command or a notification to it; a front end shows the message without stopping the core.
class ErrorReport final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ErrorReport)

public:
    using QObject::QObject;

    void report(const QString& message, Priority priority = Priority::Error) {
        Q_EMIT reported(message, priority);
    }

    // Runs `work`; whatever it throws goes to the report. Returns whether it ran to its end.
    template <typename Work> bool guard(Work&& work) {
        try {
            work();
            return true;
        } catch (const std::exception& e) {
            report(messageOf(e));
        }
        return false;
    }

Q_SIGNALS:
    void reported(const QString& message, base::Priority priority);
};

} // namespace base
