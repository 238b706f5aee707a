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

// The database or what is under it failed, whatever the statement: its files, the disk, the
// memory, the lock manager, a shutdown, a damaged page. The embedded engine reports a full disk as
// an I/O error ("No space left on device" from the system), as its own server does.
constexpr std::array<std::intptr_t, 27> kUnableToWork{
    isc_io_error,      isc_io_create_err,      isc_io_open_err,
    isc_io_close_err,  isc_io_read_err,        isc_io_write_err,
    isc_io_delete_err, isc_io_access_err,      isc_io_32bit_exceeded_err,
    isc_sys_request,   isc_old_no_space,       isc_virmemexh,
    isc_sort_err,      isc_sort_mem_err,       isc_out_of_temp_space,
    isc_lock_conflict, isc_deadlock,           isc_lock_timeout,
    isc_no_lock_mgr,   isc_lockmanerr,         isc_max_att_exceeded,
    isc_shutinprog,    isc_read_only_database, isc_bug_check,
    isc_db_corrupt,    isc_bad_checksum,       isc_cancelled,
};

// The row itself is what the database refused: a row with the same key is there already, or one
// of its values breaks a constraint. These win over a lock conflict reported beside them.
constexpr std::array<std::intptr_t, 6> kRowRefused{
    isc_no_dup,    isc_unique_key_violation, isc_foreign_key, isc_check_constraint,
    isc_not_valid, isc_integ_fail,
};

template <std::size_t N> bool hasAny(const FirebirdError& error, const std::array<std::intptr_t, N>& codes) {
    return std::any_of(codes.begin(), codes.end(), [&](std::intptr_t c) { return error.hasCode(c); });
}

} // namespace

FirebirdError::FirebirdError(const QString& message, std::vector<std::intptr_t> codes)
    : base::Error(message)
    , m_codes(std::move(codes)) {}

bool FirebirdError::hasCode(std::intptr_t code) const {
    return std::find(m_codes.begin(), m_codes.end(), code) != m_codes.end();
}

bool FirebirdError::isLostConnection() const {
    return hasAny(*this, kLostConnection);
}

bool FirebirdError::leavesRowsWaiting() const {
    if (isLostConnection())
        return true;
    return hasAny(*this, kUnableToWork) && !hasAny(*this, kRowRefused);
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
