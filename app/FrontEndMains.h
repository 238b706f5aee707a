#pragma once

#include "app/MetricsEndpoint.h"
#include "storage/DatabaseLogin.h"

#include <optional>

namespace app {

class CoreStation;

// What the command line asks of a running station.
struct StationOptions {
    std::optional<MetricsAddress> metrics;
    // From --db-credentials or the service's credential; the built-in login otherwise.
    storage::DatabaseLogin databaseLogin = storage::DatabaseLogin::builtIn();
};

// The two ways the station runs, each returning the program's exit status. The console one is always
// built; the window one comes from ui/ in a build with the window, and a headless build has none.
int runConsole(int argc, char** argv, const StationOptions& options);

bool windowBuiltIn();
int runWindow(int argc, char** argv, const StationOptions& options);

// Starts what the options ask for on the core's thread, once that thread runs; the main thread
// waits for the answer. False, with the reason on stderr, when it could not.
bool startOptions(CoreStation& core, const StationOptions& options);

// The exit status of a station that could not start what its command line asked for.
inline constexpr int kStatusBadOptions = 2;

} // namespace app
