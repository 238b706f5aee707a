#include "app/CoreStation.h"
#include "app/FrontEndMains.h"
#include "ui/CyanDusk.h"
#include "ui/WindowFrontEnd.h"

#include <QApplication>
#include <QThread>

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

    QThread coreThread;
    coreThread.setObjectName(u"core"_s);
    auto core = std::make_unique<CoreStation>();
    auto front = std::make_unique<ui::WindowFrontEnd>(*core);
    if (!styleProblem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(styleProblem));
        front->window().showError(styleProblem);
    }
    core->moveToThread(&coreThread);

    coreThread.start();
    if (!startOptions(*core, options)) {
        coreThread.quit();
        coreThread.wait();
        return kStatusBadOptions;
    }
    front->window().show();
    front->startUp();
    const int status = application.exec();

    coreThread.quit();
    coreThread.wait();
    front.reset();
    core.reset();
    return status;
}

} // namespace app
