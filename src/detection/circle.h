// Circular region of interest (a ring when the inner radius is above 0),
// kept in view pixels and in picture pixels.
#pragma once

#include <QPoint>
#include <QRect>

#include <opencv2/core.hpp>

class QPainter;

class Circle {
public:
    // Largest radius; the stored form packs the radius into 16 bits.
    static constexpr int kMaxRadius = 65535;

    Circle();

    bool IsSelected() const { return selected; }
    void SetSelected(bool on) { selected = on; }
    void setShowA(float sx, float sy);

    // Bounding rectangle from centre and radius; keeps 0 <= ri <= r <= 65535.
    void UpdateRect();
    // Centre and radius from the bounding rectangle (largest circle in its
    // top-left square), then UpdateRect().
    void UpdateAll();

    // Hit test of the handles on the circumference (1 top, 3 right, 5 bottom,
    // 7 left; 0, 2, 4, 6 between them). Only a selected circle answers.
    bool PtInCtrl(QPoint p, int* handle);
    bool Contains(QPoint p) const;
    // The radius becomes the distance from the centre to `to`.
    void Resize(int handle, QPoint from, QPoint to);
    void GetRectExt(QRect& r) const { r = rect; }
    void setImageRect();
    // 2R x 2R picture mask, 255 on the ring Ri^2 <= d^2 < R^2.
    cv::Mat UpdateMask() const;
    void Draw(QPainter& painter) const;

    // Same geometry: centre, radii and both rectangles.
    bool operator==(const Circle& o) const;
    bool operator!=(const Circle& o) const { return !(*this == o); }

    QRect rect;        // view bounding rectangle
    QRect imgRect;     // picture bounding rectangle
    int x = 0;         // centre and radii in view pixels
    int y = 0;
    int r = 0;
    int ri = 0;
    int imgX = 0;      // centre and radii in picture pixels
    int imgY = 0;
    int imgR = 0;
    int imgRi = 0;
    bool selected = false;
    float sx = 1.0f;
    float sy = 1.0f;
    int handle = -1;
};
