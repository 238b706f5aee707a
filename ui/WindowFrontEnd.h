#pragma once

#include "ui/TVuruvov.h"
#include "ui/TfrmMessageEditor.h"

#include <QObject>

namespace app {
class CoreStation;
}

namespace ui {

// The station with its window: builds the window over the core's models and posts the window's
// commands and edits to the core's thread. Construct it while the core is still on this thread
// (the window reads the models' present state); move the core to its own thread afterwards.
class WindowFrontEnd final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowFrontEnd)

public:
    explicit WindowFrontEnd(app::CoreStation& core, QObject* parent = nullptr);
    ~WindowFrontEnd() override;

    TVuruvov& window() { return m_window; }
    TfrmMessageEditor& messageEditor() { return m_messageEditor; }

    // Posts the core's start with the screens as they are now; the placement the core restores
    // comes back to the window. Call it on the window's thread.
    void startUp();

private:
    app::CoreStation& m_core;
    TVuruvov m_window;
    // Made with the main window and hidden until the "Email" button or its shortcut asks for it.
    TfrmMessageEditor m_messageEditor;
};

} // namespace ui
