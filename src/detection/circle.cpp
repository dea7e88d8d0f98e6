#include "circle.h"

#include "roigeometry.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdint>

using namespace roigeom;

Circle::Circle()
{
    UpdateAll();
}

void Circle::setShowA(float x_, float y_)
{
    sx = x_;
    sy = y_;
}

void Circle::UpdateRect()
{
    // A negative radius (from an inverted bounding rectangle) would give a
    // negative mask size, and the stored form keeps 16 bits of the radius.
    r = std::clamp(r, 0, kMaxRadius);
    rect.setCoords(x - r, y - r, x - r + 2 * r - 1, y - r + 2 * r - 1);
    if (ri > r)
        ri = r;
    if (ri < 0)
        ri = 0;
}

void Circle::UpdateAll()
{
    r = std::min(rect.height() / 2, rect.width() / 2);
    x = rect.left() + r;
    y = rect.top() + r;
    UpdateRect();
}

bool Circle::PtInCtrl(QPoint p, int* h)
{
    handle = -1;
    if (selected) {
        const int64_t ddx = static_cast<int64_t>(p.x()) - x;
        const int64_t ddy = static_cast<int64_t>(p.y()) - y;
        const int64_t d2 = ddx * ddx + ddy * ddy;
        const int64_t rr = r;
        const bool onRing = !(d2 > rr * rr + 40 * rr + 400 || d2 < rr * rr - 40 * rr + 400);
        if (onRing) {
            if (std::llabs(ddx) < 20)
                handle = p.y() > y ? 5 : 1;
            else if (std::llabs(ddy) < 20)
                handle = p.x() < x ? 7 : 3;
            else if (p.x() < x)
                handle = p.y() > y ? 0 : 6;
            else
                handle = p.y() > y ? 2 : 4;
        }
    }
    if (h)
        *h = handle;
    return handle != -1;
}

bool Circle::Contains(QPoint p) const
{
    return p.x() >= rect.left() - 20 && p.x() <= rect.right() + 20
        && p.y() >= rect.top() - 20 && p.y() <= rect.bottom() + 20;
}

void Circle::Resize(int, QPoint, QPoint to)
{
    const int64_t ddx = static_cast<int64_t>(to.x()) - x;
    const int64_t ddy = static_cast<int64_t>(to.y()) - y;
    const float d = std::sqrt(static_cast<float>(ddx * ddx + ddy * ddy));
    r = d >= static_cast<float>(kMaxRadius) ? kMaxRadius : static_cast<int>(d);
    UpdateRect();
}

void Circle::setImageRect()
{
    const float fx = (std::isfinite(sx) && sx > 0.0f) ? sx : 1.0f;
    const float fy = (std::isfinite(sy) && sy > 0.0f) ? sy : 1.0f;
    imgR = roundEven((static_cast<float>(r) / fx + static_cast<float>(r) / fy) * 0.5f);
    imgRi = roundEven((static_cast<float>(ri) / fx + static_cast<float>(ri) / fy) * 0.5f);
    imgX = toImageTrunc(x, sx);
    imgY = toImageTrunc(y, sy);
    imgRect.setCoords(imgX - imgR, imgY - imgR, imgX - imgR + 2 * imgR - 1, imgY - imgR + 2 * imgR - 1);
}

cv::Mat Circle::UpdateMask() const
{
    const int R = imgR;
    if (R <= 0)
        return cv::Mat();
    const int side = 2 * R;
    cv::Mat mask = makeMask(side, side, 0);
    if (mask.empty())
        return mask;
    const int64_t outer = static_cast<int64_t>(R) * R;
    const int64_t inner = static_cast<int64_t>(imgRi) * imgRi;
    for (int k = 0; k < side; ++k) {
        unsigned char* row = mask.ptr<unsigned char>(k);
        const int64_t dk = static_cast<int64_t>(k - R) * (k - R);
        for (int c = 0; c < side; ++c) {
            const int64_t d2 = static_cast<int64_t>(c - R) * (c - R) + dk;
            if (inner <= d2 && d2 < outer)
                row[c] = 255;
        }
    }
    return mask;
}

void Circle::Draw(QPainter& painter) const
{
    painter.save();
    QPen pen = painter.pen();
    pen.setWidth(3);
    painter.setPen(pen);
    if (selected) {
        const QPoint handles[4] = {QPoint(x, rect.top()), QPoint(rect.right(), y),
                                   QPoint(x, rect.bottom()), QPoint(rect.left(), y)};
        for (int i = 0; i < 4; ++i) {
            pen.setColor(handle == 2 * i + 1 ? Qt::yellow : Qt::magenta);
            painter.setPen(pen);
            painter.drawRect(QRect(handles[i].x() - 10, handles[i].y() - 10, 20, 20));
        }
        pen.setColor(Qt::magenta);
        painter.setPen(pen);
    }
    painter.drawEllipse(rect);
    pen.setColor(Qt::yellow);
    painter.setPen(pen);
    painter.drawEllipse(QRect(x - ri, y - ri, 2 * ri, 2 * ri));
    painter.restore();
}

bool Circle::operator==(const Circle& o) const
{
    return x == o.x && y == o.y && r == o.r && ri == o.ri && rect == o.rect
        && imgX == o.imgX && imgY == o.imgY && imgR == o.imgR && imgRi == o.imgRi
        && imgRect == o.imgRect;
}
