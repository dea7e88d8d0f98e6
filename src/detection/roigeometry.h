// Small geometry helpers shared by the three ROI shapes and the per-camera
// record: view <-> picture conversion, the touch tolerance tests and an exact
// polygon rasteriser.
#pragma once

#include <QPoint>
#include <QVector>

#include <opencv2/core.hpp>

namespace roigeom {

// View coordinate v divided by the scale s (view pixels per picture pixel),
// in float, rounded to nearest with ties to even. A scale that is not a
// positive finite number counts as 1; the result saturates at the int range.
int toImage(int v, float s);
// Same division, truncated toward zero.
int toImageTrunc(int v, float s);
// Rounds a float to nearest, ties to even, saturating at the int range
// (NaN gives 0).
int roundEven(float f);

// Touch tolerance limited to 3..50 pixels.
int clampTolerance(int t);
// |a - b| < t in x and in y, t limited to 3..50.
bool nearPoint(QPoint a, QPoint b, int t);
// |coord - a| < t and lo <= other <= hi, t limited to 3..50.
bool nearLine(int coord, int a, int other, int lo, int hi, int t);

// Keeps a view coordinate 3 pixels inside a view of the given size: below 3
// becomes 3, at or above size - 2 becomes size - 3.
int clampToView(int v, int size);

// An 8-bit rows x cols mask filled with `value`; empty (with a warning) for
// a size that is not positive, beyond kMaxMaskPixels, or that cannot be
// allocated. Masks are never allowed to throw into the caller.
constexpr long long kMaxMaskPixels = 1LL << 28;
cv::Mat makeMask(int rows, int cols, unsigned char value);

// Answer of cv::pointPolygonTest(contour, p, false) for an integer contour:
// 1 strictly inside, 0 on the outline, -1 outside.
int polygonTest(const QVector<QPoint>& pts, QPoint p);

// 8-bit mask of rows x cols pixels whose pixel (c, k) is 255 exactly when
// polygonTest(pts, (left + c, top + k)) > 0. Scanline version of the same
// integer test, linear in the vertex count per row.
cv::Mat rasterPolygon(const QVector<QPoint>& pts, int left, int top, int cols, int rows);

}  // namespace roigeom
