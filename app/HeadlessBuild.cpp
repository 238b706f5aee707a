#include "app/FrontEndMains.h"

// A build without the window (ORVANE_WINDOW=OFF): the station always runs on the console.
namespace app {

bool windowBuiltIn() {
    return false;
}

int runWindow(int argc, char** argv) {
    return runConsole(argc, argv);
}

} // namespace app
