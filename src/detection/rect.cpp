#include "rect.h"

#include "roigeometry.h"

#include <QPainter>
#include <QPen>

using namespace roigeom;

namespace {
// 20 x 20 handle square centred on (x, y): (x - 10, y - 10) to (x + 9, y + 9).
QRect handleSquare(int x, int y)
{
    return QRect(x - 10, y - 10, 20, 20);
}
}  // namespace

ClustomRect::ClustomRect() = default;

void ClustomRect::setShowA(float x, float y)
{
    sx = x;
    sy = y;
}

bool ClustomRect::PtInCtrl(QPoint p, int* h)
{
    handle = -1;
    if (selected) {
        const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
        const int tw = clampTolerance(rect.width() / 4);
        const int th = clampTolerance(rect.height() / 4);
        if (nearPoint(p, QPoint(l, t), 20))
            handle = 0;
        else if (nearPoint(p, QPoint(r, t), 20))
            handle = 2;
        else if (nearPoint(p, QPoint(l, b), 20))
            handle = 6;
        else if (nearPoint(p, QPoint(r, b), 20))
            handle = 4;
        else if (nearLine(p.x(), l, p.y(), t, b, tw))
            handle = 7;
        else if (nearLine(p.x(), r, p.y(), t, b, tw))
            handle = 3;
        else if (nearLine(p.y(), t, p.x(), l, r, th))
            handle = 1;
        else if (nearLine(p.y(), b, p.x(), l, r, th))
            handle = 5;
    }
    if (h)
        *h = handle;
    return handle != -1;
}

bool ClustomRect::Contains(QPoint p) const
{
    return p.x() >= rect.left() - 20 && p.x() <= rect.right() + 20
        && p.y() >= rect.top() - 20 && p.y() <= rect.bottom() + 20;
}

void ClustomRect::Resize(int h, QPoint from, QPoint to)
{
    const int ddx = to.x() - from.x();
    const int ddy = to.y() - from.y();
    switch (h) {
    case 0: rect.setLeft(rect.left() + ddx); rect.setTop(rect.top() + ddy); dx = ddx; dy = ddy; break;
    case 1: rect.setTop(rect.top() + ddy); dy = ddy; break;
    case 2: rect.setRight(rect.right() + ddx); rect.setTop(rect.top() + ddy); dx = ddx; dy = ddy; break;
    case 3: rect.setRight(rect.right() + ddx); dx = ddx; break;
    case 4: rect.setRight(rect.right() + ddx); rect.setBottom(rect.bottom() + ddy); dx = ddx; dy = ddy; break;
    case 5: rect.setBottom(rect.bottom() + ddy); dy = ddy; break;
    case 6: rect.setLeft(rect.left() + ddx); rect.setBottom(rect.bottom() + ddy); dx = ddx; dy = ddy; break;
    case 7: rect.setLeft(rect.left() + ddx); dx = ddx; break;
    default: break;
    }
}

void ClustomRect::setImageRect()
{
    const int l = toImage(rect.left(), sx);
    const int t = toImage(rect.top(), sy);
    const int w = toImage(rect.width(), sx);
    const int h = toImage(rect.height(), sy);
    imgRect.setCoords(l, t, l + w - 1, t + h - 1);
}

cv::Mat ClustomRect::UpdateMask() const
{
    return makeMask(imgRect.height(), imgRect.width(), 255);
}

void ClustomRect::Draw(QPainter& painter) const
{
    painter.save();
    QPen pen = painter.pen();
    pen.setWidth(3);
    painter.setPen(pen);
    if (!selected) {
        painter.drawRect(rect);
    } else {
        const QPoint corner[4] = {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()};
        for (int i = 0; i < 4; ++i) {
            pen.setColor(handle == 2 * i ? Qt::yellow : Qt::magenta);
            painter.setPen(pen);
            painter.drawRect(handleSquare(corner[i].x(), corner[i].y()));
        }
        for (int i = 0; i < 4; ++i) {
            pen.setColor(handle == 2 * i + 1 ? Qt::yellow : Qt::magenta);
            painter.setPen(pen);
            painter.drawLine(corner[i], corner[(i + 1) % 4]);
        }
    }
    painter.restore();
}
