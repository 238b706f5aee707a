#pragma once

#include "base/Error.h"

#include <cstdint>
#include <vector>

namespace storage {

// A failure reported by the Firebird client or server: the client's own formatted status text (what
// the operator and `ultimo_error` see) and the status codes behind it, which decide what it means.
class FirebirdError : public base::Error {
public:
    FirebirdError(const QString& message, std::vector<std::intptr_t> codes);

    // The first status code of the vector (isc_network_error, isc_dsql_error, ...), 0 when none.
    std::intptr_t code() const { return m_codes.empty() ? 0 : m_codes.front(); }
    // Every status code of the vector, in order.
    const std::vector<std::intptr_t>& codes() const { return m_codes; }
    bool hasCode(std::intptr_t code) const;

    // The server went away or cannot be reached: the attachment is of no use any more, whatever
    // words the client chose for it.
    bool isLostConnection() const;

    // The database could not do the work, not that it rejected it: the connection went, its files
    // cannot be written (a full disk, an I/O error), it ran out of memory or locks, or it is shut
    // down or damaged. The same statement may succeed later, so the rows it carried wait; only a
    // status that refuses the row itself (a value the table rejects, a key already there) is final.
    bool leavesRowsWaiting() const;

private:
    std::vector<std::intptr_t> m_codes;
};

} // namespace storage
