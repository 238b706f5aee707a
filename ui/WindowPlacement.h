#pragma once

#include <QString>

class QWidget;

namespace ui {

// The window's placement as the settings store keeps it: the values ShowCmd, Flags, PixelsPerInch,
// MinMaxPos and NormPos, and the name of the control that had the focus (empty when none had it).
struct WindowPlacement {
    static constexpr int kShowNormal = 1;
    static constexpr int kShowMinimized = 2;
    static constexpr int kShowMaximized = 3;
    // A minimized window that goes back to maximized when restored.
    static constexpr int kRestoreToMaximized = 0x2;

    int showCmd = kShowNormal;
    int flags = 0;
    int pixelsPerInch = 96;
    int minPosX = -1, minPosY = -1, maxPosX = -1, maxPosY = -1;
    int normLeft = 0, normTop = 0, normRight = 0, normBottom = 0; // right and bottom exclusive
    QString activeControl;

    QString minMaxPosText() const;
    QString normPosText() const;
    // "%d,%d,%d,%d" back into the four numbers; false when the text is not of that form.
    bool setMinMaxPos(QStringView text);
    bool setNormPos(QStringView text);

    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// The placement of the window as it stands now; the rectangle is its normal (not maximized)
// client area, the resolution the logical DPI of its screen.
WindowPlacement placementOf(const QWidget& window);

// Puts the window where the placement says, before or after it is shown. The rectangle is used
// only when it was stored at the current resolution, is not empty, and its top-left corner and the
// pixel inside its bottom-right corner lie on a screen; otherwise the window keeps its designed
// place. ShowCmd 1, 5 and 9 give the normal state, 2, 6 and 7 minimized, 3 maximized. The control
// named by ActiveControl gets the focus when it exists and can take it.
void applyPlacement(QWidget& window, const WindowPlacement& placement);

} // namespace ui
