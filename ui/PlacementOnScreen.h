#pragma once

#include "station/StoredPlacement.h"

class QWidget;

namespace ui {

// What the core needs to judge a stored placement: the logical resolution of the window's screen
// (the primary one before the window has a screen) and every screen's area, right and bottom
// exclusive.
station::ScreenLayout screenLayoutOf(const QWidget& window);

// The window's placement as it stands now: its state (a window minimized on its own or with the
// whole application counts as minimized), the resolution of its screen, the place it takes when
// maximized, its normal (not maximized) client area and the name of the control with the focus.
station::WindowPlacement placementOf(const QWidget& window);

// Puts the window where the core decided and shows it: the normal area first, then the state, then
// the focus on the control named by ActiveControl when it exists and can take it. The core has
// already judged the stored rectangle; nothing is judged again here. The designed rectangle means
// a window that was never moved: it gets its designed size and stays where the window system put
// it.
void applyPlacement(QWidget& window, const station::WindowPlacement& placement);

} // namespace ui
