#include "polygon.h"

#include "globals.h"
#include "roigeometry.h"

#include <QPainter>
#include <QPen>

#include <algorithm>

using namespace roigeom;

RePolygon::RePolygon() = default;

RePolygon::RePolygon(int n, const QPoint* points)
{
    n = std::clamp(n, 0, kMaxPoints);
    if (points && n > 0)
        pts = QVector<QPoint>(points, points + n);
}

void RePolygon::setPoints(const QVector<QPoint>& points)
{
    pts = points.size() > kMaxPoints ? points.mid(0, kMaxPoints) : points;
}

void RePolygon::setShowA(float x, float y)
{
    sx = x;
    sy = y;
}

bool RePolygon::PtInCtrl(QPoint p, int* h)
{
    int found = -1;
    if (selected) {
        for (int i = 0; i < pts.size(); ++i) {
            if (nearPoint(p, pts[i], 20)) {
                found = i;
                break;
            }
        }
        node = found;
    }
    if (h)
        *h = found;
    return found != -1;
}

bool RePolygon::Contains(const QPoint& p) const
{
    if (rect.right() - rect.left() < 79 || rect.bottom() - rect.top() < 79)
        return p.x() >= rect.left() && p.x() <= rect.right() && p.y() >= rect.top() && p.y() <= rect.bottom();
    return polygonTest(pts, p) > 0;
}

void RePolygon::Resize(int i, QPoint from, QPoint to, float scaleX, float scaleY)
{
    dx = to.x() - from.x();
    dy = to.y() - from.y();
    if (i < 0 || i >= pts.size())
        return;
    const QPoint moved = pts[i] + QPoint(dx, dy);
    if (moved.x() < 3 || moved.x() >= gShowW - 2 || moved.y() < 3 || moved.y() >= gShowH - 2)
        return;
    pts[i] = moved;
    if (imgPts.size() != pts.size())
        imgPts.resize(pts.size());
    imgPts[i] = QPoint(toImage(moved.x(), scaleX), toImage(moved.y(), scaleY));
}

void RePolygon::BoundingRect()
{
    if (pts.size() >= 2) {
        int minX = pts[0].x(), maxX = minX, minY = pts[0].y(), maxY = minY;
        for (const QPoint& q : pts) {
            minX = std::min(minX, q.x());
            maxX = std::max(maxX, q.x());
            minY = std::min(minY, q.y());
            maxY = std::max(maxY, q.y());
        }
        rect.setCoords(minX - 20, minY - 20, maxX - 1, maxY - 1);
        if (imgPts.size() >= 2) {
            int iMinX = imgPts[0].x(), iMaxX = iMinX, iMinY = imgPts[0].y(), iMaxY = iMinY;
            for (const QPoint& q : imgPts) {
                iMinX = std::min(iMinX, q.x());
                iMaxX = std::max(iMaxX, q.x());
                iMinY = std::min(iMinY, q.y());
                iMaxY = std::max(iMaxY, q.y());
            }
            imgRect.setCoords(iMinX, iMinY, iMaxX - 1, iMaxY - 1);
        } else {
            imgRect = QRect();
        }
    } else {
        const QPoint p0 = pts.isEmpty() ? QPoint() : pts[0];
        const QPoint i0 = imgPts.isEmpty() ? QPoint() : imgPts[0];
        rect.setCoords(p0.x() - 20, p0.y() - 20, p0.x() - 1, p0.y() - 1);
        imgRect.setCoords(i0.x(), i0.y(), i0.x() - 1, i0.y() - 1);
    }
}

void RePolygon::setImageRect()
{
    imgPts.resize(pts.size());
    for (int i = 0; i < pts.size(); ++i)
        imgPts[i] = QPoint(toImage(pts[i].x(), sx), toImage(pts[i].y(), sy));
    BoundingRect();
}

cv::Mat RePolygon::UpdateMask() const
{
    return rasterPolygon(imgPts, imgRect.left(), imgRect.top(), imgRect.right() - imgRect.left() + 1,
                         imgRect.bottom() - imgRect.top() + 1);
}

void RePolygon::Draw(QPainter& painter) const
{
    painter.save();
    QPen pen = painter.pen();
    pen.setWidth(3);
    painter.setPen(pen);
    if (selected && !hand) {
        for (int i = 0; i < pts.size(); ++i) {
            pen.setColor(i == node ? Qt::yellow : Qt::magenta);
            painter.setPen(pen);
            painter.drawRect(QRect(pts[i].x() - 10, pts[i].y() - 10, 20, 20));
        }
    }
    if (selected) {
        pen.setColor(Qt::magenta);
        painter.setPen(pen);
    }
    if (!pts.isEmpty())
        painter.drawPolygon(pts.constData(), pts.size(), Qt::OddEvenFill);
    painter.restore();
}

bool RePolygon::operator==(const RePolygon& o) const
{
    return hand == o.hand && pts == o.pts && imgPts == o.imgPts && rect == o.rect && imgRect == o.imgRect;
}
