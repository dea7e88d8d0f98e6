#include "miscfunc.h"

#include "globals.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>

namespace {

// Built at compile time, so the table is valid before any static
// initialiser of another file may use it.
struct GrayTable {
    int v[3][256];
};

constexpr GrayTable makeGrayTable()
{
    GrayTable t{};
    for (int i = 0; i < 256; ++i) {
        t.v[0][i] = static_cast<int>(i * 0.299 * 1024);
        t.v[1][i] = static_cast<int>(i * 0.587 * 1024);
        t.v[2][i] = static_cast<int>(i * 0.114 * 1024);
    }
    return t;
}

constexpr GrayTable kGrayTable = makeGrayTable();

// The weights are 306 + 22/125, 601 + 11/125 and 116 + 92/125 (times 1024),
// so each table entry is a whole multiple plus a small quotient, which the
// vector path computes as a high 16-bit product. Checked here for every
// entry, so the fast path gives exactly the table's result.
struct Weight {
    int whole;
    int magic;  // ceil(fraction * 65536)
};
constexpr Weight kWeights[3] = {{306, 11535}, {601, 5768}, {116, 48235}};

constexpr bool weightsMatchTable()
{
    for (int row = 0; row < 3; ++row)
        for (int i = 0; i < 256; ++i)
            if (kWeights[row].whole * i + ((i * kWeights[row].magic) >> 16) != kGrayTable.v[row][i])
                return false;
    return true;
}
static_assert(weightsMatchTable(), "the vector grey path must equal the weight table");

// Below this many pixels a picture is converted in the calling thread.
constexpr long long kParallelPixels = 1 << 16;

// Runs `rowsFn(firstRow, endRow)` over all rows, split over OpenCV's
// workers for large pictures.
template <typename Fn>
void forRows(int width, int height, Fn rowsFn)
{
    if (static_cast<long long>(width) * height < kParallelPixels) {
        rowsFn(0, height);
        return;
    }
    const double stripes = static_cast<double>(width) * height / kParallelPixels;
    cv::parallel_for_(cv::Range(0, height), [&](const cv::Range& r) { rowsFn(r.start, r.end); }, stripes);
}

int clampTolerance(int tolerance)
{
    return std::clamp(tolerance, 3, 50);
}

long long distance(long long a, long long b)
{
    return a > b ? a - b : b - a;
}

QString quoteIdentifier(const QString& name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

}  // namespace

const int (&gaRGB2Gray)[3][256] = kGrayTable.v;

void MoveImage(const cv::Mat& src, cv::Mat& dst, int dx, int dy)
{
    if (src.empty())
        return;
    // A fresh picture: `dst` may share its pixels with `src`.
    cv::Mat out = cv::Mat::zeros(src.size(), src.type());
    const long long w = src.cols - distance(dx, 0);
    const long long h = src.rows - distance(dy, 0);
    if (w > 0 && h > 0) {
        const cv::Rect from(std::max(0, -dx), std::max(0, -dy), static_cast<int>(w), static_cast<int>(h));
        const cv::Rect to(std::max(0, dx), std::max(0, dy), static_cast<int>(w), static_cast<int>(h));
        src(from).copyTo(out(to));
    }
    dst = out;
}

void TransformImage(const cv::Mat& src, cv::Mat& dst, cv::Point shift, cv::Point centre, double angle)
{
    if (src.empty())
        return;
    const int cols = src.cols;
    const int rows = src.rows;
    const int side = static_cast<int>(std::max(cols, rows) * 1.414);
    const int padX = std::max(0, (side - cols) / 2);
    const int padY = std::max(0, (side - rows) / 2);

    cv::Mat bordered;
    cv::copyMakeBorder(src, bordered, padY, padY, padX, padX, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::Mat shifted;
    MoveImage(bordered, shifted, shift.x, shift.y);
    const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(static_cast<float>(centre.x + padX),
                                                             static_cast<float>(centre.y + padY)),
                                                 angle, 1.0);
    cv::Mat turned;
    cv::warpAffine(shifted, turned, turn, shifted.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
    turned(cv::Rect(padX, padY, cols, rows)).copyTo(dst);
}

unsigned char rgbaToGrayPixel(unsigned int word)
{
    const unsigned int r = (word >> 16) & 0xFFu;
    const unsigned int g = (word >> 8) & 0xFFu;
    const unsigned int b = word & 0xFFu;
    return static_cast<unsigned char>((kGrayTable.v[0][r] + kGrayTable.v[1][g] + kGrayTable.v[2][b]) >> 10);
}

unsigned char rgbaToHuePixel(unsigned int word)
{
    const int r = static_cast<int>((word >> 16) & 0xFFu);
    const int g = static_cast<int>((word >> 8) & 0xFFu);
    const int b = static_cast<int>(word & 0xFFu);
    const int mx = std::max(r, std::max(g, b));
    const int mn = std::min(r, std::min(g, b));
    if (mx == 0 || mx == mn)
        return 0;
    const float d = static_cast<float>(mx - mn);
    float h;
    if (r == mx) {
        h = (g - b) / d;
        if (g < b)
            h += 6;
    } else if (g == mx) {
        h = (b - r) / d + 2;
    } else {
        h = (r - g) / d + 4;
    }
    return static_cast<unsigned char>(static_cast<int>(h * 42.5));
}

namespace {

// Grey of `count` packed pixels; returns how many were done (a multiple of 16).
size_t grayVector(unsigned char* gray, const unsigned int* rgba, size_t count)
{
#if CV_SIMD128 && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    using namespace cv;
    // Each word, seen as two 16-bit halves: (blue, red) after masking, and
    // (green, alpha) after a shift by 8. Alpha gets the weight 0.
    const v_uint32x4 lowBytes = v_setall_u32(0x00FF00FFu);
    const v_int16x8 wholeBR(kWeights[2].whole, kWeights[0].whole, kWeights[2].whole, kWeights[0].whole,
                            kWeights[2].whole, kWeights[0].whole, kWeights[2].whole, kWeights[0].whole);
    const v_int16x8 wholeG0(kWeights[1].whole, 0, kWeights[1].whole, 0, kWeights[1].whole, 0, kWeights[1].whole, 0);
    const v_uint16x8 magicBR(kWeights[2].magic, kWeights[0].magic, kWeights[2].magic, kWeights[0].magic,
                             kWeights[2].magic, kWeights[0].magic, kWeights[2].magic, kWeights[0].magic);
    const v_uint16x8 magicG0(kWeights[1].magic, 0, kWeights[1].magic, 0, kWeights[1].magic, 0, kWeights[1].magic, 0);
    const v_int16x8 ones = v_setall_s16(1);
    auto sum4 = [&](const unsigned int* p) {
        const v_uint32x4 w = v_load(p);
        const v_uint16x8 br = v_reinterpret_as_u16(w & lowBytes);
        const v_uint16x8 ga = v_reinterpret_as_u16((w >> 8) & lowBytes);
        const v_int16x8 q = v_reinterpret_as_s16(v_mul_hi(br, magicBR) + v_mul_hi(ga, magicG0));
        const v_int32x4 total = v_dotprod(v_reinterpret_as_s16(br), wholeBR) +
                                v_dotprod(v_reinterpret_as_s16(ga), wholeG0) + v_dotprod(q, ones);
        return total >> 10;
    };
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const v_int16x8 lo = v_pack(sum4(rgba + i), sum4(rgba + i + 4));
        const v_int16x8 hi = v_pack(sum4(rgba + i + 8), sum4(rgba + i + 12));
        v_store(gray + i, v_pack_u(lo, hi));
    }
    return i;
#else
    Q_UNUSED(gray);
    Q_UNUSED(rgba);
    Q_UNUSED(count);
    return 0;
#endif
}

}  // namespace

void RGBA2Gray(unsigned char* gray, const unsigned int* rgba, int width, int height)
{
    if (width < 1 || height < 1 || !gray || !rgba)
        return;
    forRows(width, height, [=](int first, int end) {
        const size_t begin = static_cast<size_t>(first) * width;
        const size_t stop = static_cast<size_t>(end) * width;
        for (size_t i = begin + grayVector(gray + begin, rgba + begin, stop - begin); i < stop; ++i)
            gray[i] = rgbaToGrayPixel(rgba[i]);
    });
}

void RGBA2Hue(unsigned char* hue, const unsigned int* rgba, int width, int height)
{
    if (width < 1 || height < 1 || !hue || !rgba)
        return;
    forRows(width, height, [=](int first, int end) {
        const size_t stop = static_cast<size_t>(end) * width;
        for (size_t i = static_cast<size_t>(first) * width; i < stop; ++i)
            hue[i] = rgbaToHuePixel(rgba[i]);
    });
}

void Gray2RGBA(const unsigned char* gray, unsigned int* rgba, int width, int height)
{
    if (width < 1 || height < 1 || !gray || !rgba)
        return;
    forRows(width, height, [=](int first, int end) {
        size_t i = static_cast<size_t>(first) * width;
        const size_t stop = static_cast<size_t>(end) * width;
#if CV_SIMD128 && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        const cv::v_uint8x16 opaque = cv::v_setall_u8(0xFF);
        auto* out = reinterpret_cast<uchar*>(rgba);
        for (; i + 16 <= stop; i += 16) {
            const cv::v_uint8x16 g = cv::v_load(gray + i);
            cv::v_store_interleave(out + 4 * i, g, g, g, opaque);
        }
#endif
        for (; i < stop; ++i)
            rgba[i] = 0xFF000000u | (gray[i] * 0x010101u);
    });
}

void CheckInRange(int* value, int isX, int /*width*/, int /*height*/)
{
    if (!value)
        return;
    const int limit = isX ? gShowW : gShowH;
    if (*value < 3)
        *value = 3;
    else if (*value >= limit - 2)
        *value = limit - 3;
}

void CheckInRange(QRect* rect, int width, int height, bool keepSize)
{
    if (!rect)
        return;
    int left = std::min(rect->left(), rect->right());
    int right = std::max(rect->left(), rect->right());
    int top = std::min(rect->top(), rect->bottom());
    int bottom = std::max(rect->top(), rect->bottom());
    if (!keepSize) {
        CheckInRange(&left, 1, width, height);
        CheckInRange(&right, 1, width, height);
        CheckInRange(&top, 0, width, height);
        CheckInRange(&bottom, 0, width, height);
    } else {
        if (left < 3) {
            right += 3 - left;
            left = 3;
        }
        if (top < 3) {
            bottom += 3 - top;
            top = 3;
        }
        if (right >= gShowW - 2) {
            left -= right - (gShowW - 3);
            right = gShowW - 3;
        }
        if (bottom >= gShowH - 2) {
            top -= bottom - (gShowH - 3);
            bottom = gShowH - 3;
        }
    }
    rect->setCoords(left, top, right, bottom);
}

bool PointAround(QPoint a, QPoint b, int tolerance)
{
    const int t = clampTolerance(tolerance);
    return distance(a.x(), b.x()) < t && distance(a.y(), b.y()) < t;
}

bool LineAround(int a, int b, int tolerance)
{
    return distance(a, b) < clampTolerance(tolerance);
}

bool LineAround(int a, int b, int c, int low, int high, int tolerance)
{
    return LineAround(a, b, tolerance) && low <= c && c <= high;
}

bool columnExists(QSqlDatabase& db, const QString& table, const QString& column)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1);").arg(quoteIdentifier(table)))) {
        qWarning() << "Failed to get table info:" << q.lastError().text();
        return false;
    }
    while (q.next()) {
        if (q.value(1).toString() == column)
            return true;
    }
    return false;
}

bool addColumnIfNotExists(QSqlDatabase& db, const QString& table, const QString& column, const QString& type)
{
    if (columnExists(db, table, column)) {
        qDebug() << "Column" << column << "already exists in table" << table;
        return false;
    }
    // The type is spliced in as written, so it must be a plain type name.
    static const QRegularExpression kType(QStringLiteral("^[A-Za-z][A-Za-z0-9_ (),]*$"));
    if (!kType.match(type).hasMatch()) {
        qWarning() << "Failed to add column:" << "invalid column type" << type;
        return false;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3;")
                    .arg(quoteIdentifier(table), quoteIdentifier(column), type))) {
        qWarning() << "Failed to add column:" << q.lastError().text();
        return false;
    }
    qDebug() << "Column" << column << "added to table" << table;
    return true;
}
