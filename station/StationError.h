#pragma once

#include <QString>

#include <stdexcept>

namespace station {

// A failure that carries the message the operator sees. Raised inside the core, caught at the edge
// of a tick, a command or a notification and handed to the general error report.
class StationError : public std::runtime_error {
public:
    explicit StationError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message) {}

    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// The operator's text of any exception that reaches a boundary.
inline QString messageOf(const std::exception& e) {
    if (const auto* station = dynamic_cast<const StationError*>(&e))
        return station->message();
    return QString::fromUtf8(e.what());
}

} // namespace station
