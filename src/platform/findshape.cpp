#include "findshape.h"
#include "matcherinput.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cmath>
#include <exception>

namespace {

constexpr double kDefaultMinScore = 0.5;
// Candidates on the coarse levels are kept from this share of the minimum
// score on: blurring lowers the correlation of small details.
constexpr double kCoarseFactor = 0.7;
// Every distinct peak of the coarsest level that could still be the part is
// followed down to full resolution, so that the true place is never lost to
// a stronger-looking coarse peak elsewhere.
constexpr int kMaxCandidates = 16;
// Two places whose full-resolution scores lie this close together (share of
// the better score) cannot be told apart: the search refuses to choose.
constexpr double kAmbiguity = 0.03;
// A placement counts only when this share of the model's points lies inside
// the picture (a rotated model may reach over the cut's edge a little).
constexpr double kMinInside = 0.9;
constexpr int kMinModelPixels = 32;
constexpr int kMinLevelSide = 12;
constexpr int kMinTemplateSide = 8;
constexpr int kTopLevelPoints = 400;
// Grey-level spread below which a picture counts as flat.
constexpr double kFlatStd = 2.0;

struct RotPoint {
    int ix, iy;
    float w00, w01, w10, w11;
    float t;
};

struct RotModel {
    std::vector<RotPoint> pts;
    int minX = INT_MAX, maxX = INT_MIN, minY = INT_MAX, maxY = INT_MIN;
    double sT = 0.0, sT2 = 0.0;
    double angle = 0.0;
    // Every point lies on a whole pixel (no turn, whole offsets) and every
    // template value is a whole grey level: the sums of a placement are
    // exact integers, so they are taken in integer arithmetic from the
    // points' byte offsets (valid for pictures of row step `step`).
    bool whole = false;
    size_t step = 0;
    std::vector<std::ptrdiff_t> offsets;
    std::vector<int> grey;
};

// Fills the byte offsets of a whole-pixel model for pictures of the given
// row step (does nothing for other models or when already done).
void bindStep(RotModel& m, size_t step)
{
    if (!m.whole || m.step == step)
        return;
    m.step = step;
    m.offsets.resize(m.pts.size());
    for (size_t i = 0; i < m.pts.size(); ++i)
        m.offsets[i] = static_cast<std::ptrdiff_t>(m.pts[i].iy) * static_cast<std::ptrdiff_t>(step) + m.pts[i].ix;
}

// The model turned by angleDeg the way getRotationMatrix2D turns a picture:
// a point at offset d from the centre lands at (c dx + s dy, -s dx + c dy).
RotModel rotateModel(const std::vector<FindShape::Point>& pts, double angleDeg)
{
    const double a = angleDeg * CV_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    RotModel m;
    m.angle = angleDeg;
    m.pts.reserve(pts.size());
    for (const auto& p : pts) {
        const double rx = c * p.dx + s * p.dy;
        const double ry = -s * p.dx + c * p.dy;
        const double fx0 = std::floor(rx), fy0 = std::floor(ry);
        const float fx = static_cast<float>(rx - fx0), fy = static_cast<float>(ry - fy0);
        RotPoint r;
        r.ix = static_cast<int>(fx0);
        r.iy = static_cast<int>(fy0);
        r.w00 = (1.f - fx) * (1.f - fy);
        r.w01 = fx * (1.f - fy);
        r.w10 = (1.f - fx) * fy;
        r.w11 = fx * fy;
        r.t = p.t;
        m.minX = std::min(m.minX, r.ix);
        m.maxX = std::max(m.maxX, r.ix);
        m.minY = std::min(m.minY, r.iy);
        m.maxY = std::max(m.maxY, r.iy);
        m.sT += p.t;
        m.sT2 += static_cast<double>(p.t) * p.t;
        m.pts.push_back(r);
    }
    m.whole = !m.pts.empty() && static_cast<double>(m.pts.size()) * 255.0 * 255.0 < static_cast<double>(INT_MAX);
    for (size_t i = 0; i < m.pts.size() && m.whole; ++i)
        m.whole = m.pts[i].w00 == 1.f && m.pts[i].w01 == 0.f && m.pts[i].w10 == 0.f && m.pts[i].w11 == 0.f &&
                  pts[i].t == std::floor(pts[i].t) && pts[i].t >= 0.f && pts[i].t <= 255.f;
    if (m.whole) {
        m.grey.resize(pts.size());
        for (size_t i = 0; i < pts.size(); ++i)
            m.grey[i] = static_cast<int>(pts[i].t);
    }
    return m;
}

// The score of a placement from its sums over the n points inside the
// picture (of `total` model points).
double finishScore(double sS, double sS2, double sTS, double sT, double sT2, size_t n, size_t total,
                   bool ignorePolarity)
{
    const double nd = static_cast<double>(n);
    const double flat = nd * nd * kFlatStd * kFlatStd;
    const double varT = nd * sT2 - sT * sT;
    const double varS = nd * sS2 - sS * sS;
    if (varT < flat || varS < flat)
        return 0.0;
    const double ncc = (nd * sTS - sT * sS) / std::sqrt(varT * varS);
    // Points beyond the picture bring no evidence: a placement that hangs
    // over the edge scores only for the share of the model it shows, so it
    // never wins over the part lying wholly inside on the strength of the
    // points it leaves out.
    const double shown = nd / static_cast<double>(total);
    return (ignorePolarity ? std::abs(ncc) : ncc) * shown;
}

// Normalised cross-correlation of the model placed with its centre at (x, y),
// times the share of its points inside the picture. Returns -2 when too few
// points fall inside the picture.
double scoreAt(const cv::Mat& img, const RotModel& m, int x, int y, bool ignorePolarity)
{
    const int w = img.cols, h = img.rows;
    const size_t step = img.step[0];
    const uchar* base = img.data;
    double sS = 0.0, sS2 = 0.0, sTS = 0.0, sT = 0.0, sT2 = 0.0;
    size_t n = 0;
    const bool allInside =
        x + m.minX >= 0 && y + m.minY >= 0 && x + m.maxX + 1 < w && y + m.maxY + 1 < h;
    if (allInside && m.whole && m.step == step) {
        // The same sums as below, where every weight but w00 (= 1) is 0.
        const uchar* at = base + static_cast<size_t>(y) * step + static_cast<size_t>(x);
        const std::ptrdiff_t* ofs = m.offsets.data();
        const int* grey = m.grey.data();
        const size_t count = m.pts.size();
        int iS = 0, iS2 = 0, iTS = 0;
        for (size_t i = 0; i < count; ++i) {
            const int v = at[ofs[i]];
            iS += v;
            iS2 += v * v;
            iTS += v * grey[i];
        }
        sS = iS;
        sS2 = iS2;
        sTS = iTS;
        n = count;
        sT = m.sT;
        sT2 = m.sT2;
    } else if (allInside) {
        for (const RotPoint& p : m.pts) {
            const uchar* r0 = base + static_cast<size_t>(y + p.iy) * step + static_cast<size_t>(x + p.ix);
            const double v = p.w00 * r0[0] + p.w01 * r0[1] + p.w10 * r0[step] + p.w11 * r0[step + 1];
            sS += v;
            sS2 += v * v;
            sTS += v * p.t;
        }
        n = m.pts.size();
        sT = m.sT;
        sT2 = m.sT2;
    } else if (m.whole && m.step == step) {
        // The same points counted as below, on whole pixels.
        const std::ptrdiff_t* ofs = m.offsets.data();
        const int* grey = m.grey.data();
        const uchar* at = base + static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(step) + x;
        long long iS = 0, iS2 = 0, iTS = 0, iT = 0, iT2 = 0;
        const size_t count = m.pts.size();
        for (size_t i = 0; i < count; ++i) {
            const RotPoint& p = m.pts[i];
            const int px = x + p.ix, py = y + p.iy;
            if (px < 0 || py < 0 || px + 1 >= w || py + 1 >= h)
                continue;
            const int v = at[ofs[i]];
            const int t = grey[i];
            iS += v;
            iS2 += v * v;
            iTS += v * t;
            iT += t;
            iT2 += t * t;
            ++n;
        }
        if (n == 0 || static_cast<double>(n) < kMinInside * static_cast<double>(m.pts.size()))
            return -2.0;
        sS = static_cast<double>(iS);
        sS2 = static_cast<double>(iS2);
        sTS = static_cast<double>(iTS);
        sT = static_cast<double>(iT);
        sT2 = static_cast<double>(iT2);
    } else {
        for (const RotPoint& p : m.pts) {
            const int px = x + p.ix, py = y + p.iy;
            if (px < 0 || py < 0 || px + 1 >= w || py + 1 >= h)
                continue;
            const uchar* r0 = base + static_cast<size_t>(py) * step + static_cast<size_t>(px);
            const double v = p.w00 * r0[0] + p.w01 * r0[1] + p.w10 * r0[step] + p.w11 * r0[step + 1];
            sS += v;
            sS2 += v * v;
            sTS += v * p.t;
            sT += p.t;
            sT2 += static_cast<double>(p.t) * p.t;
            ++n;
        }
        if (n == 0 || static_cast<double>(n) < kMinInside * static_cast<double>(m.pts.size()))
            return -2.0;
    }
    return finishScore(sS, sS2, sTS, sT, sT2, n, m.pts.size(), ignorePolarity);
}

constexpr int kRun = 5;
// Positions summed at once (the run, padded for the vector unit).
constexpr int kLanes = 8;

// Sums of eight neighbouring placements of whole-pixel points: per point the
// eight bytes from its place on, times 1, themselves and its grey value.
// Every product fits 16 bits and every sum 31, so the sums are exact.
struct LaneSums {
#if CV_SIMD128
    cv::v_uint32x4 s[2], s2[2], ts[2];
    LaneSums()
    {
        for (int k = 0; k < 2; ++k)
            s[k] = s2[k] = ts[k] = cv::v_setzero_u32();
    }
    void add(const uchar* q, int t)
    {
        const cv::v_uint16x8 v = cv::v_load_expand(q);
        const cv::v_uint16x8 vv = cv::v_mul_wrap(v, v);
        const cv::v_uint16x8 vt = cv::v_mul_wrap(v, cv::v_setall_u16(static_cast<ushort>(t)));
        cv::v_uint32x4 lo, hi;
        cv::v_expand(v, lo, hi);
        s[0] += lo;
        s[1] += hi;
        cv::v_expand(vv, lo, hi);
        s2[0] += lo;
        s2[1] += hi;
        cv::v_expand(vt, lo, hi);
        ts[0] += lo;
        ts[1] += hi;
    }
    void get(unsigned (&outS)[kLanes], unsigned (&outS2)[kLanes], unsigned (&outTS)[kLanes]) const
    {
        cv::v_store(outS, s[0]);
        cv::v_store(outS + 4, s[1]);
        cv::v_store(outS2, s2[0]);
        cv::v_store(outS2 + 4, s2[1]);
        cv::v_store(outTS, ts[0]);
        cv::v_store(outTS + 4, ts[1]);
    }
#else
    unsigned s[kLanes] = {}, s2[kLanes] = {}, ts[kLanes] = {};
    void add(const uchar* q, int t)
    {
        for (int j = 0; j < kLanes; ++j) {
            const unsigned v = q[j];
            s[j] += v;
            s2[j] += v * v;
            ts[j] += v * static_cast<unsigned>(t);
        }
    }
    void get(unsigned (&outS)[kLanes], unsigned (&outS2)[kLanes], unsigned (&outTS)[kLanes]) const
    {
        for (int j = 0; j < kLanes; ++j) {
            outS[j] = s[j];
            outS2[j] = s2[j];
            outTS[j] = ts[j];
        }
    }
#endif
};

// scoreAt at (x0 + j, y) for j = 0..kRun-1 into out[j]. A whole-pixel model
// reads every point once for the whole run, with the very same sums.
void scoreRun(const cv::Mat& img, const RotModel& m, int x0, int y, bool ignorePolarity, double* out)
{
    const int w = img.cols, h = img.rows;
    const size_t step = img.step[0];
    if (!m.whole || m.step != step) {
        for (int j = 0; j < kRun; ++j)
            out[j] = scoreAt(img, m, x0 + j, y, ignorePolarity);
        return;
    }
    const std::ptrdiff_t* ofs = m.offsets.data();
    const int* grey = m.grey.data();
    const size_t count = m.pts.size();
    const uchar* at = img.data + static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(step) + x0;
    if (x0 + m.minX >= 0 && y + m.minY >= 0 && x0 + kRun - 1 + m.maxX + 1 < w && y + m.maxY + 1 < h) {
        // The lanes past the run read at most two bytes past the run's last
        // point, within the next row (every point lies above the picture's
        // last row), and are not used.
        LaneSums lanes;
        for (size_t i = 0; i < count; ++i)
            lanes.add(at + ofs[i], grey[i]);
        unsigned sS[kLanes], sS2[kLanes], sTS[kLanes];
        lanes.get(sS, sS2, sTS);
        for (int j = 0; j < kRun; ++j)
            out[j] = finishScore(sS[j], sS2[j], sTS[j], m.sT, m.sT2, count, count, ignorePolarity);
        return;
    }
    // Over an edge: the points inside for every position of the run are
    // summed in the lanes as above, the others position by position.
    LaneSums lanes;
    long long fT = 0, fT2 = 0;
    size_t fN = 0;
    long long sS[kRun] = {}, sS2[kRun] = {}, sTS[kRun] = {}, sT[kRun] = {}, sT2[kRun] = {};
    size_t n[kRun] = {};
    for (size_t i = 0; i < count; ++i) {
        const RotPoint& p = m.pts[i];
        const int py = y + p.iy;
        if (py < 0 || py + 1 >= h)
            continue;
        const int t = grey[i];
        const int px0 = x0 + p.ix;
        if (px0 >= 0 && px0 + kRun < w) {
            // The lanes past the run read at most two bytes into row py + 1.
            lanes.add(at + ofs[i], t);
            fT += t;
            fT2 += t * t;
            ++fN;
            continue;
        }
        for (int j = 0; j < kRun; ++j) {
            const int px = px0 + j;
            if (px < 0 || px + 1 >= w)
                continue;
            const int v = at[ofs[i] + j];
            sS[j] += v;
            sS2[j] += v * v;
            sTS[j] += v * t;
            sT[j] += t;
            sT2[j] += t * t;
            ++n[j];
        }
    }
    unsigned fS[kLanes], fS2[kLanes], fTS[kLanes];
    lanes.get(fS, fS2, fTS);
    for (int j = 0; j < kRun; ++j) {
        const size_t nj = n[j] + fN;
        out[j] = nj == 0 || static_cast<double>(nj) < kMinInside * static_cast<double>(count)
                     ? -2.0
                     : finishScore(static_cast<double>(sS[j] + fS[j]), static_cast<double>(sS2[j] + fS2[j]),
                                   static_cast<double>(sTS[j] + fTS[j]), static_cast<double>(sT[j] + fT),
                                   static_cast<double>(sT2[j] + fT2), nj, count, ignorePolarity);
    }
}

struct Candidate {
    int x = 0, y = 0;
    double angle = 0.0;
    double score = -2.0;
};

// Evenly spaced angles covering [lo, hi] with at most `step` between them.
std::vector<double> angleList(double lo, double hi, double step)
{
    if (hi - lo <= 1e-9 || step <= 0.0)
        return {0.5 * (lo + hi)};
    const int count = std::max(1, static_cast<int>(std::ceil((hi - lo) / step - 1e-9)));
    std::vector<double> out;
    out.reserve(static_cast<size_t>(count) + 1);
    for (int i = 0; i <= count; ++i)
        out.push_back(lo + (hi - lo) * i / count);
    return out;
}

// Sample points of one pyramid level: all model pixels when there are few,
// else the strongest edges plus an even spread over the whole model.
std::vector<FindShape::Point> pickPoints(const cv::Mat& img, const cv::Mat& mask, cv::Point2d centre, int cap)
{
    cv::Mat gx, gy;
    cv::Sobel(img, gx, CV_32F, 1, 0, 3);
    cv::Sobel(img, gy, CV_32F, 0, 1, 3);
    struct Cand {
        int x, y;
        float g;
    };
    std::vector<Cand> all;
    for (int y = 0; y < img.rows; ++y) {
        const uchar* m = mask.ptr<uchar>(y);
        const float* ax = gx.ptr<float>(y);
        const float* ay = gy.ptr<float>(y);
        for (int x = 0; x < img.cols; ++x)
            if (m[x])
                all.push_back({x, y, std::abs(ax[x]) + std::abs(ay[x])});
    }
    std::vector<char> chosen(all.size(), 0);
    if (static_cast<int>(all.size()) <= cap) {
        std::fill(chosen.begin(), chosen.end(), 1);
    } else {
        const int nGrad = cap * 2 / 3;
        std::vector<int> idx(all.size());
        for (size_t i = 0; i < idx.size(); ++i)
            idx[i] = static_cast<int>(i);
        std::nth_element(idx.begin(), idx.begin() + nGrad, idx.end(),
                         [&all](int a, int b) { return all[static_cast<size_t>(a)].g > all[static_cast<size_t>(b)].g; });
        for (int i = 0; i < nGrad; ++i)
            chosen[static_cast<size_t>(idx[static_cast<size_t>(i)])] = 1;
        const int nEven = cap - nGrad;
        const size_t stride = std::max<size_t>(1, all.size() / static_cast<size_t>(nEven));
        for (size_t i = 0; i < all.size(); i += stride)
            chosen[i] = 1;
    }
    std::vector<FindShape::Point> pts;
    for (size_t i = 0; i < all.size(); ++i) {
        if (!chosen[i])
            continue;
        pts.push_back({static_cast<float>(all[i].x - centre.x), static_cast<float>(all[i].y - centre.y),
                       static_cast<float>(img.at<uchar>(all[i].y, all[i].x))});
    }
    return pts;
}

bool flatPoints(const std::vector<FindShape::Point>& pts)
{
    if (pts.empty())
        return true;
    double s = 0.0, s2 = 0.0;
    for (const auto& p : pts) {
        s += p.t;
        s2 += static_cast<double>(p.t) * p.t;
    }
    const double n = static_cast<double>(pts.size());
    const double var = s2 / n - (s / n) * (s / n);
    return var < kFlatStd * kFlatStd;
}

double radiusOf(const std::vector<FindShape::Point>& pts)
{
    double r2 = 1.0;
    for (const auto& p : pts)
        r2 = std::max(r2, static_cast<double>(p.dx) * p.dx + static_cast<double>(p.dy) * p.dy);
    return std::sqrt(r2);
}

// Vertex of the parabola through (-1, a), (0, b), (1, c), limited to +-0.5.
double parabolaOffset(double a, double b, double c)
{
    const double d = a - 2.0 * b + c;
    if (!(d < -1e-12))
        return 0.0;
    return std::clamp(0.5 * (a - c) / d, -0.5, 0.5);
}


// ---- The search, phase by phase ----------------------------------------------

// What the phases of one search share.
struct Search {
    const std::vector<FindShape::Level>& levels;
    bool ignorePolarity;
    double lo, hi;                // the angle range searched
    std::vector<cv::Mat> pyr;     // the searched picture on every level of the model
    std::vector<Candidate> kept;  // the places followed down the pyramid
};

std::vector<cv::Mat> pyramidOf(const cv::Mat& image, int nLevels)
{
    std::vector<cv::Mat> pyr(static_cast<size_t>(nLevels));
    pyr[0] = image;
    for (int k = 1; k < nLevels; ++k)
        cv::pyrDown(pyr[static_cast<size_t>(k - 1)], pyr[static_cast<size_t>(k)]);
    return pyr;
}

// Per position of the coarsest level the best score over all angles, and
// the angle that gave it.
struct CoarseMap {
    cv::Mat best;
    cv::Mat bestAngle;
};

// Coarsest level: every position and every angle.
CoarseMap scoreCoarsest(const Search& s, double angleCentre)
{
    const size_t top = s.levels.size() - 1;
    const FindShape::Level& tl = s.levels[top];
    const cv::Mat& ti = s.pyr[top];
    CoarseMap map{cv::Mat(ti.size(), CV_64F, cv::Scalar(-2.0)), cv::Mat(ti.size(), CV_64F, cv::Scalar(angleCentre))};
    const std::vector<double> angles = angleList(s.lo, s.hi, tl.angleStep);
    std::vector<RotModel> models;
    models.reserve(angles.size());
    for (double a : angles) {
        models.push_back(rotateModel(tl.points, a));
        bindStep(models.back(), ti.step[0]);
    }
    // Rows are searched in parallel; every row keeps the angle order, so
    // the result does not depend on the split.
    cv::parallel_for_(cv::Range(0, ti.rows), [&](const cv::Range& rows) {
        for (size_t k = 0; k < models.size(); ++k) {
            const RotModel& m = models[k];
            const int slackX = static_cast<int>(0.1 * (m.maxX - m.minX));
            const int slackY = static_cast<int>(0.1 * (m.maxY - m.minY));
            const int x0 = std::max(0, -m.minX - slackX), x1 = std::min(ti.cols - 1, ti.cols - 2 - m.maxX + slackX);
            const int y0 = std::max({0, -m.minY - slackY, rows.start});
            const int y1 = std::min({ti.rows - 1, ti.rows - 2 - m.maxY + slackY, rows.end - 1});
            for (int py = y0; py <= y1; ++py) {
                double* b = map.best.ptr<double>(py);
                double* ba = map.bestAngle.ptr<double>(py);
                int px = x0;
                for (; px + kRun - 1 <= x1; px += kRun) {
                    double run[kRun];
                    scoreRun(ti, m, px, py, s.ignorePolarity, run);
                    for (int j = 0; j < kRun; ++j)
                        if (run[j] > b[px + j]) {
                            b[px + j] = run[j];
                            ba[px + j] = angles[k];
                        }
                }
                for (; px <= x1; ++px) {
                    const double sc = scoreAt(ti, m, px, py, s.ignorePolarity);
                    if (sc > b[px]) {
                        b[px] = sc;
                        ba[px] = angles[k];
                    }
                }
            }
        }
    });
    return map;
}

bool byScore(const Candidate& a, const Candidate& b)
{
    return a.score > b.score;
}

// The distinct local peaks of the coarse map from coarseMin on, best first,
// kMaxCandidates at most. bestSeen is the best score anywhere.
std::vector<Candidate> coarsePeaks(const CoarseMap& map, double coarseMin, double* bestSeen)
{
    const cv::Mat& best = map.best;
    std::vector<Candidate> cands;
    *bestSeen = 0.0;
    for (int py = 0; py < best.rows; ++py) {
        for (int px = 0; px < best.cols; ++px) {
            const double s = best.at<double>(py, px);
            *bestSeen = std::max(*bestSeen, s);
            if (s < coarseMin)
                continue;
            bool peak = true;
            for (int dy = -1; dy <= 1 && peak; ++dy)
                for (int dx = -1; dx <= 1 && peak; ++dx) {
                    const int qx = px + dx, qy = py + dy;
                    if ((dx || dy) && qx >= 0 && qy >= 0 && qx < best.cols && qy < best.rows &&
                        best.at<double>(qy, qx) > s)
                        peak = false;
                }
            if (peak)
                cands.push_back({px, py, map.bestAngle.at<double>(py, px), s});
        }
    }
    std::sort(cands.begin(), cands.end(), byScore);
    std::vector<Candidate> kept;
    for (const Candidate& c : cands) {
        bool near = false;
        for (const Candidate& k : kept)
            near = near || (std::abs(k.x - c.x) <= 2 && std::abs(k.y - c.y) <= 2);
        if (!near)
            kept.push_back(c);
        if (static_cast<int>(kept.size()) >= kMaxCandidates)
            break;
    }
    return kept;
}

// One level down the pyramid (to level k): a small window of positions and
// angles around every candidate, at the finer level's angle step.
void refineLevel(Search& s, int k)
{
    const FindShape::Level& lv = s.levels[static_cast<size_t>(k)];
    const double prevStep = s.levels[static_cast<size_t>(k + 1)].angleStep;
    const cv::Mat& li = s.pyr[static_cast<size_t>(k)];
    std::vector<Candidate>& kept = s.kept;
    // Every angle any candidate tries is turned once.
    std::vector<std::vector<double>> tried(kept.size());
    std::vector<double> distinct;
    for (size_t ci = 0; ci < kept.size(); ++ci) {
        const Candidate& c = kept[ci];
        tried[ci] = angleList(std::max(s.lo, c.angle - prevStep), std::min(s.hi, c.angle + prevStep), lv.angleStep);
        distinct.insert(distinct.end(), tried[ci].begin(), tried[ci].end());
    }
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::vector<RotModel> turned(distinct.size());
    cv::parallel_for_(cv::Range(0, static_cast<int>(distinct.size())), [&](const cv::Range& range) {
        for (int ai = range.start; ai < range.end; ++ai) {
            turned[static_cast<size_t>(ai)] = rotateModel(lv.points, distinct[static_cast<size_t>(ai)]);
            bindStep(turned[static_cast<size_t>(ai)], li.step[0]);
        }
    });
    // The candidates are independent of each other: each is refined by one
    // worker, in the same order of angles and positions as alone, so the
    // result does not depend on the split.
    cv::parallel_for_(cv::Range(0, static_cast<int>(kept.size())), [&](const cv::Range& range) {
        for (int ci = range.start; ci < range.end; ++ci) {
            Candidate& c = kept[static_cast<size_t>(ci)];
            Candidate nb;
            for (double a : tried[static_cast<size_t>(ci)]) {
                const RotModel& m = turned[static_cast<size_t>(
                    std::lower_bound(distinct.begin(), distinct.end(), a) - distinct.begin())];
                static_assert(kRun == 5, "one run covers a row of the window");
                for (int py = 2 * c.y - 2; py <= 2 * c.y + 2; ++py) {
                    double row[kRun];
                    scoreRun(li, m, 2 * c.x - 2, py, s.ignorePolarity, row);
                    for (int j = 0; j < kRun; ++j)
                        if (row[j] > nb.score)
                            nb = {2 * c.x - 2 + j, py, a, row[j]};
                }
            }
            c = nb;
        }
    });
}

// A second, distinct place (farther than `apart` from the best one, kept[0])
// that scores as well: the picture repeats itself (or the part is not there)
// and either answer may be wrong. `kept` is sorted best first.
bool ambiguous(const std::vector<Candidate>& kept, double apart)
{
    const Candidate& win = kept[0];
    for (size_t k = 1; k < kept.size(); ++k) {
        const Candidate& c = kept[k];
        if (std::hypot(c.x - win.x, c.y - win.y) <= apart)
            continue;  // the same peak reached from another coarse start
        if (c.score >= win.score - kAmbiguity * std::abs(win.score)) {
            qInfo("FindShape: two places score alike (%.3f at %d,%d and %.3f at %d,%d); no position taken",
                  win.score, win.x, win.y, c.score, c.x, c.y);
            return true;
        }
        break;  // sorted: no later one scores higher
    }
    return false;
}

// The winner's angle between the full-resolution steps, by a parabola
// through the neighbouring angles' scores.
double refinedAngle(const cv::Mat& image, const Search& s, const Candidate& win)
{
    const FindShape::Level& l0 = s.levels[0];
    double angle = win.angle;
    const double sm = scoreAt(image, rotateModel(l0.points, win.angle - l0.angleStep), win.x, win.y, s.ignorePolarity);
    const double sp = scoreAt(image, rotateModel(l0.points, win.angle + l0.angleStep), win.x, win.y, s.ignorePolarity);
    if (sm > -1.0 && sp > -1.0)
        angle += parabolaOffset(sm, win.score, sp) * l0.angleStep;
    return std::clamp(angle, s.lo, s.hi);
}

// The winner's position between pixels, by parabolas through the
// neighbouring positions' scores. The peak is interpolated at the refined
// angle: at the stepped one a turn of the model would pull it sideways.
cv::Point2d subPixelPeak(const cv::Mat& image, const Search& s, const Candidate& win, double angle)
{
    RotModel m0 = rotateModel(s.levels[0].points, angle);
    bindStep(m0, image.step[0]);
    auto at = [&](int px, int py) { return scoreAt(image, m0, px, py, s.ignorePolarity); };
    double cx = win.x, cy = win.y;
    const double sc = at(win.x, win.y);
    const double sl = at(win.x - 1, win.y), sr = at(win.x + 1, win.y);
    const double su = at(win.x, win.y - 1), sd = at(win.x, win.y + 1);
    if (sc > -1.0 && sl > -1.0 && sr > -1.0)
        cx += parabolaOffset(sl, sc, sr);
    if (sc > -1.0 && su > -1.0 && sd > -1.0)
        cy += parabolaOffset(su, sc, sd);
    return {cx, cy};
}

}  // namespace

FindShape::FindShape() = default;
FindShape::~FindShape() = default;

bool FindShape::IsValid() const
{
    return !levels_.empty();
}

void FindShape::Clear()
{
    levels_.clear();
    width_ = height_ = 0;
    refX_ = refY_ = 0;
    angleCentre_ = angleRange_ = 0.0;
    ignorePolarity_ = false;
}

bool FindShape::CreateShape(const cv::Mat& templ, double angleStep, int angleCentre, int angleRange, int refX,
                            int refY, bool ignorePolarity, int maskLevel, cv::Mat mask, int accuracy, int levels)
{
    Clear();
    if (templ.empty() || templ.type() != CV_8UC1) {
        qWarning("FindShape: template must be a non-empty 8-bit grey picture");
        return false;
    }
    if (templ.cols < kMinTemplateSide || templ.rows < kMinTemplateSide) {
        qWarning("FindShape: template %dx%d is too small", templ.cols, templ.rows);
        return false;
    }
    if (!matcherinput::maskFits("FindShape", mask, templ.size(), "the template "))
        return false;
    try {
        const cv::Mat model = matcherinput::modelMask(mask, templ.size(), std::clamp(maskLevel, 1, 255));
        if (cv::countNonZero(model) < kMinModelPixels) {
            qWarning("FindShape: mask leaves fewer than %d model pixels", kMinModelPixels);
            return false;
        }

        int nLevels = std::clamp(levels, 1, 8);
        const int side = std::min(templ.cols, templ.rows);
        while (nLevels > 1 && (side >> (nLevels - 1)) < kMinLevelSide)
            --nLevels;

        const int cap = 400 + 400 * std::clamp(accuracy, 0, 10);
        const cv::Point2d centre0(templ.cols / 2, templ.rows / 2);
        std::vector<Level> built;
        cv::Mat img = templ, msk = model;
        for (int k = 0; k < nLevels; ++k) {
            if (k > 0) {
                cv::Mat di, dm;
                cv::pyrDown(img, di);
                cv::pyrDown(msk, dm);
                cv::threshold(dm, dm, 127, 255, cv::THRESH_BINARY);
                img = di;
                msk = dm;
            }
            const double f = 1.0 / static_cast<double>(1 << k);
            const bool top = k == nLevels - 1;
            Level lv;
            lv.points = pickPoints(img, msk, centre0 * f, top ? std::min(cap, kTopLevelPoints) : cap);
            if (static_cast<int>(lv.points.size()) < kMinModelPixels || flatPoints(lv.points))
                break;  // this level and all coarser ones are unusable
            lv.angleStep = std::atan(1.0 / radiusOf(lv.points)) * 180.0 / CV_PI;
            if (k == 0 && angleStep > 0.0)
                lv.angleStep = std::clamp(angleStep, 0.01, 10.0);
            built.push_back(std::move(lv));
        }
        if (built.empty()) {
            qWarning("FindShape: template has no contrast inside the mask");
            return false;
        }
        levels_ = std::move(built);
        width_ = templ.cols;
        height_ = templ.rows;
        refX_ = refX;
        refY_ = refY;
        angleCentre_ = std::clamp(angleCentre, -360, 360);
        angleRange_ = std::clamp(angleRange, 0, 180);
        ignorePolarity_ = ignorePolarity;
        return true;
    } catch (const std::exception& e) {
        matcherinput::warnFailed("FindShape", "model not built", e);
    }
    Clear();
    return false;
}

bool FindShape::Find(const cv::Mat& image, int minScore, int* x, int* y, double* score, double* angle) const
{
    cv::Point2d shift;
    if (!Find(image, minScore, &shift, score, angle))
        return false;
    if (x)
        *x = static_cast<int>(std::lround(shift.x));
    if (y)
        *y = static_cast<int>(std::lround(shift.y));
    return true;
}

bool FindShape::Find(const cv::Mat& image, int minScore, cv::Point2d* shift, double* score, double* angle) const
{
    if (score)
        *score = 0.0;
    if (!IsValid())
        return false;
    if (image.empty() || image.type() != CV_8UC1) {
        qWarning("FindShape: search picture must be a non-empty 8-bit grey picture");
        return false;
    }
    if (image.cols < width_ || image.rows < height_) {
        qWarning("FindShape: search picture %dx%d is smaller than the model %dx%d", image.cols, image.rows, width_,
                 height_);
        return false;
    }
    const double accept = (minScore >= 1 && minScore <= 100) ? minScore / 100.0 : kDefaultMinScore;
    try {
        const int nLevels = static_cast<int>(levels_.size());
        Search s{levels_, ignorePolarity_, angleCentre_ - angleRange_, angleCentre_ + angleRange_,
                 pyramidOf(image, nLevels), {}};
        const int top = nLevels - 1;
        double bestSeen = 0.0;
        s.kept = coarsePeaks(scoreCoarsest(s, angleCentre_), (top == 0 ? 1.0 : kCoarseFactor) * accept, &bestSeen);
        if (s.kept.empty()) {
            if (score)
                *score = std::max(0.0, bestSeen) * 100.0;
            return false;
        }
        for (int k = top - 1; k >= 0; --k)
            refineLevel(s, k);
        std::sort(s.kept.begin(), s.kept.end(), byScore);
        const Candidate& win = s.kept[0];
        if (score)
            *score = std::max(0.0, win.score) * 100.0;
        if (win.score < accept || ambiguous(s.kept, std::max(4.0, 0.05 * std::min(width_, height_))))
            return false;
        const double finalAngle = angleRange_ > 0.0 ? refinedAngle(image, s, win) : win.angle;
        const cv::Point2d centre = subPixelPeak(image, s, win, finalAngle);
        if (shift)
            *shift = cv::Point2d(refX_ - centre.x, refY_ - centre.y);
        if (angle) {
            const double a = -finalAngle;
            *angle = std::abs(a) < 1e-9 ? 0.0 : a;
        }
        return true;
    } catch (const std::exception& e) {
        matcherinput::warnFailed("FindShape", "search failed", e);
    }
    return false;
}
