#pragma once

#include <QString>

#include <stdexcept>

namespace config {

// A failure of the settings store, carrying the text the operator sees. `what()` holds the same
// text in UTF-8, so that any boundary that shows exceptions shows it as it is.
class ConfigError : public std::runtime_error {
public:
    explicit ConfigError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message) {}

    const QString& message() const { return m_message; }

private:
    QString m_message;
};

} // namespace config
