#pragma once

#include "base/Error.h"

namespace config {

// A failure of the settings or of the settings store.
class ConfigError : public base::Error {
public:
    using base::Error::Error;
};

} // namespace config
