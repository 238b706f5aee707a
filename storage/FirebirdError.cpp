#include "storage/FirebirdError.h"

#include <ibase.h>

#include <algorithm>
#include <array>

namespace storage {

namespace {

// Every status that leaves the attachment dead: the network failed under it, the server closed it,
// or the database was shut down.
constexpr std::array<std::intptr_t, 17> kLostConnection{
    isc_network_error,
    isc_net_read_err,
    isc_net_write_err,
    isc_lost_db_connection,
    isc_att_shutdown,
    isc_conn_lost,
    isc_net_connect_err,
    isc_net_connect_listen_err,
    isc_net_event_connect_err,
    isc_net_event_listen_err,
    isc_net_lookup_err,
    isc_net_init_error,
    isc_net_server_shutdown,
    isc_net_event_connect_timeout,
    isc_shutdown,
    isc_connect_reject,
    isc_bad_db_handle,
};

} // namespace

FirebirdError::FirebirdError(const QString& message, std::vector<std::intptr_t> codes)
    : base::Error(message)
    , m_codes(std::move(codes)) {}

bool FirebirdError::hasCode(std::intptr_t code) const {
    return std::find(m_codes.begin(), m_codes.end(), code) != m_codes.end();
}

bool FirebirdError::isLostConnection() const {
    return std::any_of(kLostConnection.begin(), kLostConnection.end(),
                       [this](std::intptr_t c) { return hasCode(c); });
}

} // namespace storage

#include "base/CodePage.h"
#include "storage/FirebirdHandle.h"

namespace storage::fb {

FirebirdError errorFrom(Firebird::IStatus* status) {
    char text[2048];
    const unsigned length = util()->formatStatus(text, sizeof text - 1, status);
    std::vector<std::intptr_t> codes;
    for (const std::intptr_t* v = status->getErrors(); v && *v != isc_arg_end; v += 2) {
        if (v[0] == isc_arg_gds)
            codes.push_back(v[1]);
    }
    const QString message = base::codepage::widen(QByteArrayView(text, length)).trimmed();
    return FirebirdError(message, std::move(codes));
}

} // namespace storage::fb
