// Small helpers shared by the camera view's files and the ROI page.
#pragma once

#include <QRgb>
#include <QVector>

namespace viewutil {

// Integer square root, truncated (0 for negative values).
int isqrt(int v);

// The 256-entry grey colour table of 8-bit pictures (EditSession's): opaque
// grey i at entry i.
QVector<QRgb> greyTable();

// While zoomed in (zoom above 1.0), pans the current camera's view by the
// pointer movement since the last call (or press, lastPressX/Y), keeping the
// picture over the whole view, and repaints; remembers (x, y) as the last
// press. Nothing while no main window is installed (gpState).
void updateMScale(int x, int y);

}  // namespace viewutil
