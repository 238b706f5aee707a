#pragma once

namespace storage {

// Stops the Firebird client and its embedded engine: every attachment still open is closed and
// the engine's threads end. Call it once, when the process is done with the database, so that the
// engine is not torn down half-way by the process's own exit.
void shutdownFirebirdClient();

} // namespace storage
