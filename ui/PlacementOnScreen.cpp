#include "ui/PlacementOnScreen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace ui {

using station::PlacementRect;
using station::WindowPlacement;
using station::WindowState;

namespace {

// The window system's "restore to maximized": a minimized window that was maximized before.
constexpr int kRestoreToMaximized = 0x2;

PlacementRect rectOf(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

int logicalDpiOf(const QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInch()) : WindowPlacement::kDefaultPixelsPerInch;
}

bool minimized(const QWidget& window) {
    // The window system may iconify the window without Qt having asked for it.
    const QWindow* handle = window.windowHandle();
    return window.isMinimized() || (handle && handle->visibility() == QWindow::Minimized);
}

void focusControl(QWidget& window, const QString& name) {
    if (name.isEmpty())
        return;
    QWidget* const control = window.findChild<QWidget*>(name);
    // A control on a tab page not on show cannot take the focus, as on the station it was built for.
    if (control && control->focusPolicy() != Qt::NoFocus && control->isEnabled() &&
        control->isVisibleTo(&window))
        control->setFocus(Qt::OtherFocusReason);
}

} // namespace

station::ScreenLayout screenLayoutOf(const QWidget& window) {
    station::ScreenLayout layout;
    layout.pixelsPerInch = logicalDpiOf(window);
    const QList<QScreen*> screens = QGuiApplication::screens();
    layout.monitors.reserve(std::size_t(screens.size()));
    for (const QScreen* screen : screens)
        layout.monitors.push_back(rectOf(screen->geometry()));
    return layout;
}

WindowPlacement placementOf(const QWidget& window) {
    WindowPlacement p;
    const bool isMinimized = minimized(window);
    const bool isMaximized = window.isMaximized() || window.isFullScreen();
    p.showCmd = isMinimized   ? WindowPlacement::kShowMinimized
                : isMaximized ? WindowPlacement::kShowMaximized
                              : WindowPlacement::kShowNormal;
    p.flags = isMinimized && isMaximized ? kRestoreToMaximized : 0;
    p.pixelsPerInch = logicalDpiOf(window);
    // Where a minimized window sits is the window system's business; Qt does not tell.
    if (isMaximized && !isMinimized) {
        const QPoint corner = window.frameGeometry().topLeft();
        p.maxX = corner.x();
        p.maxY = corner.y();
    }
    const QRect normal = window.normalGeometry();
    p.normPos = rectOf(normal.isValid() ? normal : window.geometry());
    if (const QWidget* focus = window.focusWidget())
        p.activeControl = focus->objectName();
    return p;
}

void applyPlacement(QWidget& window, const WindowPlacement& p) {
    // The normal area belongs to a normal window: set on a maximized one it would be lost.
    if (window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        window.setWindowState(Qt::WindowNoState);
    const PlacementRect& r = p.normPos;
    if (r == WindowPlacement::kDesignedRect)
        window.resize(r.right - r.left, r.bottom - r.top);
    else
        window.setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);

    switch (p.state()) {
    case WindowState::Minimized:
        window.showNormal();
        window.setWindowState((p.flags & kRestoreToMaximized) ? Qt::WindowMinimized | Qt::WindowMaximized
                                                              : Qt::WindowMinimized);
        window.show();
        break;
    case WindowState::Maximized:
        window.showMaximized();
        break;
    case WindowState::Normal:
        window.showNormal();
        break;
    }
    focusControl(window, p.activeControl);
}

} // namespace ui
