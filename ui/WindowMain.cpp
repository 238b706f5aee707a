#include "app/CoreThread.h"
#include "app/FrontEndMains.h"
#include "ui/CyanDusk.h"
#include "ui/WindowFrontEnd.h"

#include <QApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace app {

bool windowBuiltIn() {
    return true;
}

// The station with its window. The window is built while the core is still on this thread, so it
// reads the core's state directly once; from then on it only follows notifications and posts.
int runWindow(int argc, char** argv, const StationOptions& options) {
    QApplication application(argc, argv);
    const QString styleProblem = ui::applyCyanDusk(application);

    CoreThread coreThread;
    ui::WindowFrontEnd front(coreThread.core());
    if (!styleProblem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(styleProblem));
        front.window().showError(styleProblem);
    }
    coreThread.start();
    // The core's thread ends before the window goes, and the core after it.
    if (!startOptions(coreThread.core(), options)) {
        coreThread.stop();
        return kStatusBadOptions;
    }
    front.window().show();
    front.startUp();
    const int status = application.exec();
    coreThread.stop();
    return status;
}

} // namespace app
