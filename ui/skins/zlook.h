// The pinned look: the same style and font faces on every machine, so the
// program, the tests, the screenshots and the generated skins all measure
// and draw text alike. Call once, right after the QApplication is made.
#pragma once

#include <QPalette>

namespace ZLook {

// Forms ask for "Arial"; Linux desktops rarely have it, so it is mapped to
// the metric-compatible "Liberation Sans". The style is Fusion, whatever the
// desktop prefers (scroll-bar extents feed window widths).
void applyPinnedLook();

// The colours of the generated skins for the controls the style draws in a
// dark window (its menu bar and menus, a scroll bar beside a skinned strip),
// so none of them stays light.
QPalette darkPalette();

// Sets QT_QPA_PLATFORM to "offscreen" unless the caller already chose a
// platform; call before the QApplication is made.
void preferOffscreen();

} // namespace ZLook
