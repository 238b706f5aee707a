#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <array>

namespace ui {

namespace {

QString fourNumbers(int a, int b, int c, int d) {
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

bool readFourNumbers(QStringView text, std::array<int, 4>& out) {
    const auto parts = text.split(u',');
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        out[std::size_t(i)] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return false;
    }
    return true;
}

bool onAScreen(QPoint point) {
    return QGuiApplication::screenAt(point) != nullptr;
}

int logicalDpiOf(const QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInch()) : 96;
}

} // namespace

QString WindowPlacement::minMaxPosText() const {
    return fourNumbers(minPosX, minPosY, maxPosX, maxPosY);
}

QString WindowPlacement::normPosText() const {
    return fourNumbers(normLeft, normTop, normRight, normBottom);
}

bool WindowPlacement::setMinMaxPos(QStringView text) {
    std::array<int, 4> n{};
    if (!readFourNumbers(text, n))
        return false;
    minPosX = n[0], minPosY = n[1], maxPosX = n[2], maxPosY = n[3];
    return true;
}

bool WindowPlacement::setNormPos(QStringView text) {
    std::array<int, 4> n{};
    if (!readFourNumbers(text, n))
        return false;
    normLeft = n[0], normTop = n[1], normRight = n[2], normBottom = n[3];
    return true;
}

WindowPlacement placementOf(const QWidget& window) {
    WindowPlacement p;
    const Qt::WindowStates state = window.windowState();
    const bool minimized = state.testFlag(Qt::WindowMinimized);
    const bool maximized = state.testFlag(Qt::WindowMaximized);
    p.showCmd = minimized   ? WindowPlacement::kShowMinimized
                : maximized ? WindowPlacement::kShowMaximized
                            : WindowPlacement::kShowNormal;
    p.flags = minimized && maximized ? WindowPlacement::kRestoreToMaximized : 0;
    p.pixelsPerInch = logicalDpiOf(window);
    if (maximized && window.screen()) {
        const QPoint corner = window.screen()->availableGeometry().topLeft();
        p.maxPosX = corner.x();
        p.maxPosY = corner.y();
    }
    QRect normal = window.normalGeometry();
    if (!normal.isValid())
        normal = window.geometry();
    p.normLeft = normal.left();
    p.normTop = normal.top();
    p.normRight = normal.left() + normal.width();
    p.normBottom = normal.top() + normal.height();
    if (const QWidget* focus = window.focusWidget())
        p.activeControl = focus->objectName();
    return p;
}

void applyPlacement(QWidget& window, const WindowPlacement& p) {
    const bool sameResolution = p.pixelsPerInch == logicalDpiOf(window);
    if (sameResolution && p.normLeft < p.normRight && p.normTop < p.normBottom &&
        onAScreen({p.normLeft, p.normTop}) && onAScreen({p.normRight - 1, p.normBottom - 1}))
        window.setGeometry(p.normLeft, p.normTop, p.normRight - p.normLeft, p.normBottom - p.normTop);

    Qt::WindowStates state = Qt::WindowNoState;
    switch (p.showCmd) {
    case 2:
    case 6:
    case 7:
        state = Qt::WindowMinimized;
        if (p.flags & WindowPlacement::kRestoreToMaximized)
            state |= Qt::WindowMaximized;
        break;
    case 3:
        state = Qt::WindowMaximized;
        break;
    default: // 1, 5, 9 and anything else: normal
        break;
    }
    window.setWindowState(state);

    if (p.activeControl.isEmpty())
        return;
    QWidget* const control = window.findChild<QWidget*>(p.activeControl);
    if (control && control->focusPolicy() != Qt::NoFocus && control->isEnabled() && !control->isHidden())
        control->setFocus();
}

} // namespace ui
