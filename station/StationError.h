#pragma once

#include "base/Error.h"

namespace station {

// A failure of the station runtime or of a record.
class StationError : public base::Error {
public:
    using base::Error::Error;
};

} // namespace station
