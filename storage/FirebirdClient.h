#pragma once

namespace storage {

// The Firebird client shuts every attachment down by itself when the process receives SIGINT or
// SIGTERM. The station closes on those signals in its own order (reception stopped, queued lines
// stored, the open transaction committed), so the client is told to leave them to the station.
void leaveTerminationSignalsToTheStation();

// Stops the Firebird client and its embedded engine: every attachment still open is closed and
// the engine's threads end. Call it once, when the process is done with the database, so that the
// engine is not torn down half-way by the process's own exit.
void shutdownFirebirdClient();

} // namespace storage
