#include "app/FrontEndMains.h"

// A build without the window (ORVANE_WINDOW=OFF): the station always runs on the console.
namespace app {

bool windowBuiltIn() {
    return false;
}

int runWindow(int argc, char** argv, const StationOptions& options) {
    return runConsole(argc, argv, options);
}

} // namespace app
