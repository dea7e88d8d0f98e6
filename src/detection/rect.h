// Rectangular region of interest, kept in view (screen) pixels and in picture
// pixels. Rectangles are inclusive: (left, top) to (right, bottom); QRect()
// is the null rectangle (0, 0, -1, -1).
#pragma once

#include <QPoint>
#include <QRect>

#include <opencv2/core.hpp>

class QPainter;

class ClustomRect {
public:
    ClustomRect();

    bool IsSelected() const { return selected; }
    void SetSelected(bool on) { selected = on; }
    // View pixels per picture pixel.
    void setShowA(float sx, float sy);

    // Hit test of the eight handles (0 top-left, clockwise to 7 left edge).
    // Only a selected rectangle answers. The handle found, or -1, is written
    // through `handle` (when given) and kept as the active handle.
    bool PtInCtrl(QPoint p, int* handle);
    // A touch within 20 pixels of the rectangle picks it.
    bool Contains(QPoint p) const;
    // Moves the edges that the handle drags by to - from.
    void Resize(int handle, QPoint from, QPoint to);
    void GetRectExt(QRect& r) const { r = rect; }
    // Picture rectangle from the view rectangle and the scale.
    void setImageRect();
    // 255 over the whole picture rectangle; empty for an empty or inverted one.
    cv::Mat UpdateMask() const;
    void Draw(QPainter& painter) const;

    // Same geometry (view and picture rectangles); selection, handle, last
    // delta and scale are not compared.
    bool operator==(const ClustomRect& o) const { return rect == o.rect && imgRect == o.imgRect; }
    bool operator!=(const ClustomRect& o) const { return !(*this == o); }

    QRect rect;          // view rectangle
    QRect imgRect;       // picture rectangle
    bool selected = false;
    int dx = 0;          // last resize delta
    int dy = 0;
    float sx = 1.0f;
    float sy = 1.0f;
    int handle = -1;     // active handle
};
