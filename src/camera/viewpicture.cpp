#include "viewpicture.h"

#include "miscfunc.h"

#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace {
// The columns (or rows) [first, last) of the shown copy whose picture pixel
// lies in [lo, hi]; `map` rises.
std::pair<int, int> copySpan(const std::vector<int>& map, int lo, int hi)
{
    const auto first = std::lower_bound(map.begin(), map.end(), lo);
    const auto last = std::upper_bound(first, map.end(), hi);
    return {int(first - map.begin()), int(last - map.begin())};
}

// Picture pixel of each of `n` copy pixels over `full` picture pixels.
void nearestMap(std::vector<int>& map, int n, int full)
{
    map.resize(size_t(n));
    for (int i = 0; i < n; ++i)
        map[size_t(i)] = int((2 * qint64(i) + 1) * full / (2 * qint64(n)));
}

// What the painter adds below its world transform (the offset of a widget in
// its window's backing store, a view transform, the device pixel ratio), when
// that is a move by whole pixels; else false.
bool wholePixelRest(const QPainter& p, QPoint* offset)
{
    bool invertible = false;
    const QTransform world = p.worldTransform().inverted(&invertible);
    if (!invertible)
        return false;
    const QTransform rest = world * p.deviceTransform();
    if (rest.type() > QTransform::TxTranslate)
        return false;
    const QPoint o(qRound(rest.dx()), qRound(rest.dy()));
    if (std::abs(rest.dx() - o.x()) > 1e-6 || std::abs(rest.dy() - o.y()) > 1e-6)
        return false;
    *offset = o;
    return true;
}
}  // namespace

void ViewPicture::prepare(const uchar* f, int w, int h, bool c, qint64 key, QSize shrunk)
{
    if (!f || w < 1 || h < 1)
        return;
    frame = f;
    width = w;
    height = h;
    colour = c;
    const bool scaledNow = shrunk.width() >= 1 && shrunk.height() >= 1 && shrunk.width() < w && shrunk.height() < h;
    const QSize size = scaledNow ? shrunk : QSize(w, h);
    if (rgb.size() != size || isScaled != scaledNow) {
        rgb = QImage(size, QImage::Format_RGB32);
        isScaled = scaledNow;
        nearestMap(cols, scaledNow ? size.width() : 0, w);
        nearestMap(rows, scaledNow ? size.height() : 0, h);
        dirty = true;
    }
    if (!dirty && key == shownKey) {
        for (const QRect& r : qAsConst(marked))
            expand(r);
        marked.clear();
        return;
    }
    if (isScaled) {
        expand(QRect(0, 0, w, h));
    } else if (colour) {
        // Opaque whatever the buffer holds (a zeroed one before the first
        // frame has no alpha).
        const auto* in = reinterpret_cast<const quint32*>(frame);
        auto* out = reinterpret_cast<quint32*>(rgb.bits());
        const qint64 pixels = qint64(w) * h;
        for (qint64 i = 0; i < pixels; ++i)
            out[i] = in[i] | 0xff000000u;
    } else {
        Gray2RGBA(frame, reinterpret_cast<unsigned int*>(rgb.bits()), w, h);
    }
    dirty = false;
    shownKey = key;
    marked.clear();
}

void ViewPicture::expand(const QRect& r)
{
    if (r.isEmpty() || !frame)
        return;
    const int w = width;
    if (!isScaled) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            auto* out = reinterpret_cast<QRgb*>(rgb.scanLine(y)) + r.left();
            if (colour) {
                const auto* in = reinterpret_cast<const quint32*>(frame) + static_cast<size_t>(y) * w + r.left();
                for (int x = 0; x < r.width(); ++x)
                    out[x] = in[x] | 0xff000000u;
            } else {
                const uchar* in = frame + static_cast<size_t>(y) * w + r.left();
                for (int x = 0; x < r.width(); ++x)
                    out[x] = 0xff000000u | (in[x] * 0x010101u);
            }
        }
        return;
    }
    const auto colSpan = copySpan(cols, r.left(), r.right());
    const auto rowSpan = copySpan(rows, r.top(), r.bottom());
    const int* map = cols.data();
    for (int y = rowSpan.first; y < rowSpan.second; ++y) {
        auto* out = reinterpret_cast<QRgb*>(rgb.scanLine(y));
        const size_t row = static_cast<size_t>(rows[size_t(y)]) * w;
        if (colour) {
            const auto* in = reinterpret_cast<const quint32*>(frame) + row;
            for (int x = colSpan.first; x < colSpan.second; ++x)
                out[x] = in[map[x]] | 0xff000000u;
        } else {
            const uchar* in = frame + row;
            for (int x = colSpan.first; x < colSpan.second; ++x)
                out[x] = 0xff000000u | (in[map[x]] * 0x010101u);
        }
    }
}

void ViewPicture::mark(const QRect& roiRect, const uchar* source, QRgb c)
{
    if (!source)
        return;
    // Only the part of the ROI that lies on the picture is ever touched.
    const QRect r = roiRect.normalized().intersected(QRect(0, 0, width, height));
    if (r.isEmpty())
        return;
    if (!isScaled) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const uchar* in = source + static_cast<size_t>(y) * width;
            auto* out = reinterpret_cast<QRgb*>(rgb.scanLine(y));
            for (int x = r.left(); x <= r.right(); ++x)
                if (in[x])
                    out[x] = c;
        }
    } else {
        // The marks the painter's own nearest scaling of the marked picture
        // would show: a copy pixel is marked when its picture pixel is.
        const auto colSpan = copySpan(cols, r.left(), r.right());
        const auto rowSpan = copySpan(rows, r.top(), r.bottom());
        for (int y = rowSpan.first; y < rowSpan.second; ++y) {
            const uchar* in = source + static_cast<size_t>(rows[size_t(y)]) * width;
            auto* out = reinterpret_cast<QRgb*>(rgb.scanLine(y));
            for (int x = colSpan.first; x < colSpan.second; ++x)
                if (in[cols[size_t(x)]])
                    out[x] = c;
        }
    }
    marked.append(r);
}

QRect ViewPicture::shrunkRect(const QPainter& p, const QTransform& t, const QRect& target, QSize picture)
{
    // Only a plain move and enlargement or reduction, on whole device pixels.
    QPoint offset;
    if (t.type() > QTransform::TxScale || t.m11() <= 0.0 || t.m22() <= 0.0 || !wholePixelRest(p, &offset))
        return QRect();
    const QRectF f = t.mapRect(QRectF(target)).translated(offset);
    if (!std::isfinite(f.left()) || !std::isfinite(f.top()) || !std::isfinite(f.right()) || !std::isfinite(f.bottom()) ||
        std::abs(f.left()) > 1.0e6 || std::abs(f.top()) > 1.0e6 || f.width() > 1.0e6 || f.height() > 1.0e6)
        return QRect();
    const int x0 = qRound(f.left());
    const int y0 = qRound(f.top());
    const QRect d(x0, y0, qRound(f.right()) - x0, qRound(f.bottom()) - y0);
    if (d.width() < 1 || d.height() < 1 || d.width() >= picture.width() || d.height() >= picture.height())
        return QRect();
    return d;
}

void ViewPicture::draw(QPainter& p, const QRect& target, const QRect& shrunk) const
{
    if (rgb.isNull())
        return;
    QPoint offset;
    if (!isScaled || shrunk.size() != rgb.size() || !wholePixelRest(p, &offset)) {
        p.drawImage(target, rgb);
        return;
    }
    // Pixel for pixel: the copy already has the size it covers on the device.
    p.save();
    p.setWorldTransform(QTransform());
    p.drawImage(shrunk.topLeft() - offset, rgb);
    p.restore();
}
