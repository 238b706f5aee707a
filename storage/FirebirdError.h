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

private:
    std::vector<std::intptr_t> m_codes;
};

} // namespace storage
