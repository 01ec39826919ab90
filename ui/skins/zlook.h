// The pinned look: the same style and font faces on every machine, so the
// program, the tests, the screenshots and the generated skins all measure
// and draw text alike. Call once, right after the QApplication is made.
#pragma once

namespace ZLook {

// Forms ask for "Arial"; Linux desktops rarely have it, so it is mapped to
// the metric-compatible "Liberation Sans". The style is Fusion, whatever the
// desktop prefers (scroll-bar extents feed window widths).
void applyPinnedLook();

// Sets QT_QPA_PLATFORM to "offscreen" unless the caller already chose a
// platform; call before the QApplication is made.
void preferOffscreen();

} // namespace ZLook
