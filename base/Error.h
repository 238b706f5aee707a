#pragma once

#include <QString>

#include <stdexcept>

namespace base {

// The one root of the station's failures: it carries the message the operator sees, and `what()`
// holds the same text in UTF-8, so that any boundary that shows exceptions shows it as it is. Raised
// inside the core, caught at the edge of a tick, a command or a notification and handed to the
// general error report.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message) {}

    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// The operator's text of any exception that reaches a boundary.
inline QString messageOf(const std::exception& e) {
    if (const auto* error = dynamic_cast<const Error*>(&e))
        return error->message();
    return QString::fromUtf8(e.what());
}

} // namespace base
