#include "roigeometry.h"

#include <algorithm>
#include <QtGlobal>

#include <climits>
#include <cmath>
#include <cstdint>
#include <exception>
#include <vector>

namespace roigeom {

namespace {

float saneScale(float s)
{
    return (std::isfinite(s) && s > 0.0f) ? s : 1.0f;
}

int saturate(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (d <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(d);
}

// floor(a / b) for b > 0.
int64_t floorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b) != 0 && a < 0)
        --q;
    return q;
}

}  // namespace

int roundEven(float f)
{
    if (std::isnan(f))
        return 0;
    // Done by hand rather than with nearbyint so that the result does not
    // depend on the floating-point rounding mode of the thread.
    const float fl = std::floor(f);
    const float diff = f - fl;  // exact for floats
    double r = fl;
    if (diff > 0.5f)
        r = static_cast<double>(fl) + 1.0;
    else if (diff == 0.5f && std::fmod(static_cast<double>(fl), 2.0) != 0.0)
        r = static_cast<double>(fl) + 1.0;
    return saturate(r);
}

int toImage(int v, float s)
{
    return roundEven(static_cast<float>(v) / saneScale(s));
}

int toImageTrunc(int v, float s)
{
    const float q = static_cast<float>(v) / saneScale(s);
    return saturate(std::trunc(static_cast<double>(q)));
}

int clampTolerance(int t)
{
    return std::clamp(t, 3, 50);
}

bool nearPoint(QPoint a, QPoint b, int t)
{
    t = clampTolerance(t);
    return std::llabs(static_cast<long long>(a.x()) - b.x()) < t
        && std::llabs(static_cast<long long>(a.y()) - b.y()) < t;
}

bool nearLine(int coord, int a, int other, int lo, int hi, int t)
{
    t = clampTolerance(t);
    return std::llabs(static_cast<long long>(coord) - a) < t && lo <= other && other <= hi;
}

int clampToView(int v, int size)
{
    if (v < 3)
        return 3;
    if (v >= size - 2)
        return size - 3;
    return v;
}

cv::Mat makeMask(int rows, int cols, unsigned char value)
{
    if (rows <= 0 || cols <= 0)
        return cv::Mat();
    if (static_cast<long long>(rows) * cols > kMaxMaskPixels) {
        qWarning("ROI mask of %d x %d pixels refused", cols, rows);
        return cv::Mat();
    }
    try {
        return cv::Mat(rows, cols, CV_8UC1, cv::Scalar(value));
    } catch (const std::exception& e) {
        qWarning("ROI mask of %d x %d pixels cannot be made: %s", cols, rows, e.what());
        return cv::Mat();
    }
}

int polygonTest(const QVector<QPoint>& pts, QPoint p)
{
    const int n = pts.size();
    if (n == 0)
        return -1;
    int counter = 0;
    QPoint v = pts[n - 1];
    for (int i = 0; i < n; ++i) {
        const QPoint v0 = v;
        v = pts[i];
        if ((v0.y() <= p.y() && v.y() <= p.y()) || (v0.y() > p.y() && v.y() > p.y())
            || (v0.x() < p.x() && v.x() < p.x())) {
            if (p.y() == v.y()
                && (p.x() == v.x()
                    || (p.y() == v0.y()
                        && ((v0.x() <= p.x() && p.x() <= v.x()) || (v.x() <= p.x() && p.x() <= v0.x())))))
                return 0;
            continue;
        }
        int64_t dist = static_cast<int64_t>(p.y() - v0.y()) * (v.x() - v0.x())
                     - static_cast<int64_t>(p.x() - v0.x()) * (v.y() - v0.y());
        if (dist == 0)
            return 0;
        if (v.y() < v0.y())
            dist = -dist;
        counter += dist > 0;
    }
    return (counter % 2 == 0) ? -1 : 1;
}

cv::Mat rasterPolygon(const QVector<QPoint>& pts, int left, int top, int cols, int rows)
{
    cv::Mat mask = makeMask(rows, cols, 0);
    const int n = pts.size();
    if (mask.empty() || n == 0)
        return mask;

    // Per row: a pixel is inside when an odd number of the edges that span
    // the row cross it strictly to its right, and it lies on no edge. For an
    // edge spanning row y, the crossing x is a / dy (exactly, as a fraction);
    // the pixels x < a / dy count it and the pixel x == a / dy lies on it.
    std::vector<unsigned char> flip(static_cast<size_t>(cols) + 1);
    std::vector<unsigned char> onEdge(static_cast<size_t>(cols));
    const int64_t right = static_cast<int64_t>(left) + cols;  // one past the last column
    auto markEdge = [&](int64_t x) {
        if (x >= left && x < right)
            onEdge[static_cast<size_t>(x - left)] = 1;
    };

    for (int k = 0; k < rows; ++k) {
        const int64_t y = static_cast<int64_t>(top) + k;
        std::fill(flip.begin(), flip.end(), 0);
        std::fill(onEdge.begin(), onEdge.end(), 0);
        QPoint v = pts[n - 1];
        for (int i = 0; i < n; ++i) {
            const QPoint v0 = v;
            v = pts[i];
            const bool bothAtOrAbove = v0.y() <= y && v.y() <= y;
            const bool bothBelow = v0.y() > y && v.y() > y;
            if (bothAtOrAbove || bothBelow) {
                if (v.y() == y) {
                    if (v0.y() == y) {
                        const int64_t lo = std::min(v0.x(), v.x());
                        const int64_t hi = std::max(v0.x(), v.x());
                        for (int64_t x = std::max<int64_t>(lo, left); x <= hi && x < right; ++x)
                            onEdge[static_cast<size_t>(x - left)] = 1;
                    } else {
                        markEdge(v.x());
                    }
                }
                continue;
            }
            int64_t dy = static_cast<int64_t>(v.y()) - v0.y();
            int64_t a = (y - v0.y()) * (static_cast<int64_t>(v.x()) - v0.x()) + static_cast<int64_t>(v0.x()) * dy;
            if (dy < 0) {
                dy = -dy;
                a = -a;
            }
            // Pixels x with x * dy < a, i.e. x < ceil(a / dy), count the edge.
            const int64_t firstNot = floorDiv(a + dy - 1, dy);
            if (a % dy == 0)
                markEdge(a / dy);
            const int64_t end = firstNot - left;
            if (end > 0) {
                flip[0] ^= 1;
                flip[static_cast<size_t>(std::min<int64_t>(end, cols))] ^= 1;
            }
        }
        unsigned char* row = mask.ptr<unsigned char>(k);
        unsigned char parity = 0;
        for (int c = 0; c < cols; ++c) {
            parity ^= flip[static_cast<size_t>(c)];
            row[c] = (parity && !onEdge[static_cast<size_t>(c)]) ? 255 : 0;
        }
    }
    return mask;
}

}  // namespace roigeom
