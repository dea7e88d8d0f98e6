// Polygonal region of interest, drawn point by point or free-hand. The
// vertices are kept in view pixels and in picture pixels; the containers hold
// only the vertices in use (at most kMaxPoints).
#pragma once

#include <QPoint>
#include <QRect>
#include <QVector>

#include <opencv2/core.hpp>

class QPainter;

class RePolygon {
public:
    static constexpr int kMaxPoints = 8096;

    RePolygon();
    // Copies the first n points (n limited to 0..kMaxPoints).
    RePolygon(int n, const QPoint* points);

    int count() const { return pts.size(); }
    // Replaces the vertices (at most kMaxPoints are kept); the picture
    // vertices follow at the next setImageRect().
    void setPoints(const QVector<QPoint>& points);

    bool IsSelected() const { return selected; }
    void SetSelected(bool on) { selected = on; }
    void SetHand(bool on) { hand = on; }
    bool getHand() const { return hand; }
    void setNode(int i) { node = i; }
    void setShowA(float sx, float sy);

    // Hit test of the vertices (tolerance 20); only a selected polygon answers.
    bool PtInCtrl(QPoint p, int* handle);
    // Small polygons are picked by their bounding rectangle, larger ones only
    // strictly inside the outline.
    bool Contains(const QPoint& p) const;
    // Moves vertex i by to - from unless it would leave the view's 3-pixel
    // margin. The bounding rectangles are not recomputed.
    void Resize(int i, QPoint from, QPoint to, float sx, float sy);
    void GetRectExt(QRect& r) const { r = rect; }
    // Bounding rectangles of the view and picture vertices.
    void BoundingRect();
    // Picture vertices from the view vertices and the scale, then BoundingRect().
    void setImageRect();
    // Mask over the picture bounding rectangle: 255 strictly inside the
    // picture polygon, 0 on the outline and outside.
    cv::Mat UpdateMask() const;
    void Draw(QPainter& painter) const;

    // Same geometry: vertices, picture vertices, bounding rectangles, hand flag.
    bool operator==(const RePolygon& o) const;
    bool operator!=(const RePolygon& o) const { return !(*this == o); }

    QVector<QPoint> pts;     // view vertices
    QVector<QPoint> imgPts;  // picture vertices
    QRect rect;              // view bounding rectangle
    QRect imgRect;           // picture bounding rectangle
    bool selected = false;
    bool hand = false;       // drawn free-hand (stored as kind 258)
    int dx = 0;              // last move delta
    int dy = 0;
    float sx = 1.0f;
    float sy = 1.0f;
    int node = -1;           // active vertex
};
