#include "storage/FirebirdError.h"

#include <ibase.h>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace {

// A status vector's codes as the client reports them, and whether the rows it stopped must wait
// for the database (true) or the row is refused for good and dumped (false).
struct StatusCase {
    const char* name;
    std::vector<std::intptr_t> codes;
    bool waits;
};

void PrintTo(const StatusCase& c, std::ostream* out) {
    *out << c.name;
}

class FirebirdStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(FirebirdStatus, DecidesWhetherTheRowsWaitOrTheRowIsRefused) {
    const StatusCase& c = GetParam();
    const storage::FirebirdError error(QString::fromLatin1(c.name), c.codes);
    EXPECT_EQ(error.leavesRowsWaiting(), c.waits);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FirebirdStatus,
    ::testing::Values(
        // The database could not do the work: the same row goes again later.
        StatusCase{"embedded_disk_full", {isc_io_error, isc_io_write_err}, true},
        StatusCase{"file_cannot_be_read", {isc_io_error, isc_io_read_err}, true},
        StatusCase{"file_cannot_be_opened", {isc_io_error, isc_io_open_err}, true},
        StatusCase{"file_past_its_size", {isc_io_error, isc_io_32bit_exceeded_err}, true},
        StatusCase{"system_call_failed", {isc_sys_request}, true},
        StatusCase{"sort_space_full", {isc_sort_err, isc_io_error, isc_io_write_err}, true},
        StatusCase{"temporary_space_full", {isc_out_of_temp_space}, true},
        StatusCase{"out_of_memory", {isc_virmemexh}, true},
        StatusCase{"server_gone", {isc_network_error, isc_net_read_err}, true},
        StatusCase{"connection_lost", {isc_lost_db_connection}, true},
        StatusCase{"database_shut_down", {isc_shutdown}, true},
        StatusCase{"attachment_shut_down", {isc_att_shutdown}, true},
        StatusCase{"too_many_attachments", {isc_max_att_exceeded}, true},
        StatusCase{"lock_timeout", {isc_lock_timeout}, true},
        StatusCase{"deadlock", {isc_deadlock, isc_update_conflict, isc_concurrent_transaction}, true},
        StatusCase{"lock_manager", {isc_lockmanerr}, true},
        StatusCase{"database_made_read_only", {isc_read_only_database}, true},
        StatusCase{"damaged_page", {isc_db_corrupt, isc_bad_checksum}, true},
        StatusCase{"internal_check", {isc_bug_check}, true},
        StatusCase{"statement_cancelled", {isc_cancelled}, true},
        // The row itself is refused: it is dumped, and the rows after it go on.
        StatusCase{"value_too_long", {isc_arith_except, isc_string_truncation}, false},
        StatusCase{"not_a_number", {isc_convert_error}, false},
        StatusCase{"null_where_none_is_allowed", {isc_not_valid}, false},
        StatusCase{"key_already_there", {isc_unique_key_violation, isc_no_dup}, false},
        StatusCase{"key_held_by_another", {isc_lock_conflict, isc_unique_key_violation, isc_no_dup}, false},
        StatusCase{"check_constraint", {isc_check_constraint}, false},
        StatusCase{"foreign_key", {isc_foreign_key}, false},
        StatusCase{"trigger_refuses", {isc_integ_fail}, false},
        StatusCase{"column_unknown", {isc_dsql_error, isc_dsql_field_err}, false},
        StatusCase{"no_codes", {}, false}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

} // namespace
