#pragma once

#include "base/Error.h"

#include <QObject>
#include <QString>

namespace base {

// The application's general error report. The core hands every failure that escapes a tick, a
// command or a notification to it; a front end shows the message without stopping the core.
class ErrorReport final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ErrorReport)

public:
    using QObject::QObject;

    void report(const QString& message) { Q_EMIT reported(message); }

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
    void reported(const QString& message);
};

} // namespace base
