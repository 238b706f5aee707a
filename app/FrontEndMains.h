#pragma once

namespace app {

// The two ways the station runs, each returning the program's exit status. The console one is always
// built; the window one comes from ui/ in a build with the window, and a headless build has none.
int runConsole(int argc, char** argv);

bool windowBuiltIn();
int runWindow(int argc, char** argv);

} // namespace app
