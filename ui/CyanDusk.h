#pragma once

#include <QString>

class QApplication;

namespace ui {

inline constexpr char16_t kCyanDuskName[] = u"Cyan Dusk";

// The station's visual style "Cyan Dusk": a calm dark cyan on the Fusion style. Returns an empty
// text when it was set, else the operator's message saying why not; the program goes on with the
// platform's own style then.
QString applyCyanDusk(QApplication& application);

} // namespace ui
