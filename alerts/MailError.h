#pragma once

#include "base/Error.h"

namespace alerts {

// A mail that could not be composed or sent: the text says why, for the operator.
class MailError : public base::Error {
public:
    using base::Error::Error;
};

} // namespace alerts
