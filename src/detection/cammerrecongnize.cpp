#include "cammerrecongnize.h"

#include "databases.h"
#include "cammersingleton.h"
#include "cambuffers.h"
#include "globals.h"
#include "machineoutputs.h"
#include "miscfunc.h"
#include "winstate.h"
#include "wizardpara.h"

#include <QDebug>
#include <QElapsedTimer>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <vector>

namespace {

constexpr int kHomographyKeyPoints = 300;
constexpr float kHomographyMatchConf = 0.4f;
// How much worse than the unmoved frame a found position may fit the
// template (correlation at a quarter of the size) before it is refused.
constexpr float kLikenessMargin = 0.02f;
// Within this distance of the trained place (share of the larger frame side,
// at least kNearMin pixels) a found position counts as near; a far one gives
// way to a near one that scores at least kNearScore of its score, and is
// refused without one.
constexpr double kNearShare = 0.04;
constexpr int kNearMin = 8;
constexpr double kNearScore = 0.9;

bool inRange(int v, int lo, int hi)
{
    return v >= lo && v <= hi;
}

// Low and high 16-bit halves of a packed parameter, as unsigned values.
int low16(int v)
{
    return static_cast<int>(static_cast<unsigned>(v) & 0xffffu);
}
int high16(int v)
{
    return static_cast<int>(static_cast<unsigned>(v) >> 16);
}

// Converts one 32-bit colour picture into grey or hue, as the colour mode
// chooses, into `grey` (8-bit, same size; allocated when needed).
void colourToGrey(const uchar* rgba, int width, int height, cv::Mat& grey)
{
    grey.create(height, width, CV_8UC1);
    const auto* words = reinterpret_cast<const unsigned int*>(rgba);
    if (gisGrayHue)
        RGBA2Gray(grey.data, words, width, height);
    else
        RGBA2Hue(grey.data, words, width, height);
}

}  // namespace

CammerRecong::CammerRecong(CammerSingleton* record, CamBuffers* owner)
    : rec(record)
    , view(owner)
{
    for (int g = 0; g < kSteps; ++g) {
        if (word(Word::StepEnabled0 + g) == 0)
            continue;
        CreateHomoShape(g);
        CreateShape(g);
        VarTrain(g);
    }
}

int CammerRecong::word(int n) const
{
    if (!gpWPara || n < 0 || n >= kParaWords)
        return 0;
    return gpWPara->words[n];
}

cv::Size CammerRecong::frameSize() const
{
    return view ? cv::Size(view->imageWidth, view->imageHeight) : cv::Size();
}

bool CammerRecong::framesReady() const
{
    return rec && view && view->imageWidth > 0 && view->imageHeight > 0 && view->captureFrame && view->workFrame &&
           view->alignedFrame && view->resultImage && (!gisColor || view->greyScratch);
}

cv::Rect CammerRecong::boundingRect(const CammerSingleton& record, int step, int i)
{
    if (step < 0 || step >= kSteps || i < 0 || i >= kRois)
        return cv::Rect();
    QRect r;
    switch (record.kind[step * kRois + i]) {
    case RoiShape::Rect:
        r = record.rect[step][i].imgRect;
        break;
    case RoiShape::Circle:
        r = record.circle[step][i].imgRect;
        break;
    default:
        r = record.polygon[step][i].imgRect;
        break;
    }
    // Inclusive corners; widths computed in 64 bits so that damaged corners
    // cannot overflow.
    const long long w = static_cast<long long>(r.right()) - r.left() + 1;
    const long long h = static_cast<long long>(r.bottom()) - r.top() + 1;
    if (w < 1 || h < 1 || w > INT_MAX || h > INT_MAX)
        return cv::Rect(r.left(), r.top(), 0, 0);
    return cv::Rect(r.left(), r.top(), static_cast<int>(w), static_cast<int>(h));
}

cv::Rect CammerRecong::defaultRect(cv::Size frame)
{
    return cv::Rect(frame.width / 4, frame.height / 4, 3 * frame.width / 4, 3 * frame.height / 4);
}

int CammerRecong::roiGeometry(const CammerSingleton& record, const cv::Mat* masks, int step, int i,
                              cv::Size frame, cv::Rect* rectOut, cv::Mat* maskOut)
{
    if (step < 0 || step >= kSteps || i < 0 || i >= kRois)
        return kFaultRect;
    const cv::Mat empty;
    const cv::Mat& mask = masks ? masks[step * kRois + i] : empty;
    if (mask.empty())
        return kFaultMask;
    const cv::Rect r = boundingRect(record, step, i);
    if (r.width < 1 || r.height < 1)
        return kFaultRect;
    if (r.x < 0 || r.y < 0 || r.x > frame.width - r.width || r.y > frame.height - r.height)
        return kFaultRect;
    if (mask.type() != CV_8UC1 || mask.cols != r.width || mask.rows != r.height)
        return kFaultMask;
    if (rectOut)
        *rectOut = r;
    if (maskOut)
        *maskOut = mask;
    return 0;
}

void CammerRecong::ThresholdFUNC(cv::Mat src, cv::Mat& dst, int lo, int hi)
{
    if (src.empty() || src.type() != CV_8UC1) {
        dst = cv::Mat::zeros(src.size(), CV_8UC1);
        return;
    }
    cv::Mat out(src.size(), CV_8UC1);
    if (lo > hi || lo > 255 || hi < 0)
        out.setTo(0);
    else
        cv::inRange(src, cv::Scalar(std::max(lo, 0)), cv::Scalar(std::min(hi, 255)), out);
    dst = out;
}

namespace {

// Opening of binary pictures with the elliptic kernel of odd size 2r + 1 in
// time independent of r.
//
// Row k (k = -r..r) of OpenCV's elliptic kernel covers the columns u with
// |u| <= round(sqrt(r^2 - k^2)). For integers this is exactly
//     u^2 - |u| + k^2 < r^2,   or u = 0 and |k| = r.
// So a pixel lies within the kernel's reach of a target pixel exactly when
// the separable distance min over targets of phi(dx) + dy^2 (phi(u) =
// u^2 - |u|) is below r^2, or a target lies r rows straight above or below.
// That distance is a row pass (nearest target in the row) followed by the
// lower envelope of parabolas down every column.
constexpr double kFar = std::numeric_limits<double>::infinity();

void separableDistance(const cv::Mat& bin, bool targetIsSet, cv::Mat& dist)
{
    const int w = bin.cols;
    const int h = bin.rows;
    dist.create(h, w, CV_64F);
    std::vector<int> nearest(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        const uchar* row = bin.ptr<uchar>(y);
        double* out = dist.ptr<double>(y);
        int last = -1;
        for (int x = 0; x < w; ++x) {
            if ((row[x] != 0) == targetIsSet)
                last = x;
            nearest[static_cast<size_t>(x)] = last < 0 ? INT_MAX : x - last;
        }
        last = -1;
        for (int x = w - 1; x >= 0; --x) {
            if ((row[x] != 0) == targetIsSet)
                last = x;
            int d = nearest[static_cast<size_t>(x)];
            if (last >= 0)
                d = std::min(d, last - x);
            out[x] = d == INT_MAX ? kFar : static_cast<double>(d) * d - d;
        }
    }
    std::vector<double> g(static_cast<size_t>(h));
    std::vector<int> v(static_cast<size_t>(h));
    std::vector<double> z(static_cast<size_t>(h) + 1);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y)
            g[static_cast<size_t>(y)] = dist.at<double>(y, x);
        int k = -1;
        for (int p = 0; p < h; ++p) {
            const double gp = g[static_cast<size_t>(p)];
            if (gp == kFar)
                continue;
            double s = -kFar;
            while (k >= 0) {
                const int q = v[static_cast<size_t>(k)];
                s = ((gp + static_cast<double>(p) * p) - (g[static_cast<size_t>(q)] + static_cast<double>(q) * q)) /
                    (2.0 * (p - q));
                if (s > z[static_cast<size_t>(k)])
                    break;
                --k;
            }
            ++k;
            v[static_cast<size_t>(k)] = p;
            z[static_cast<size_t>(k)] = k == 0 ? -kFar : s;
            z[static_cast<size_t>(k) + 1] = kFar;
        }
        int idx = 0;
        for (int y = 0; y < h; ++y) {
            double d = kFar;
            if (k >= 0) {
                while (z[static_cast<size_t>(idx) + 1] < y)
                    ++idx;
                const int q = v[static_cast<size_t>(idx)];
                d = g[static_cast<size_t>(q)] + static_cast<double>(y - q) * (y - q);
            }
            dist.at<double>(y, x) = d;
        }
    }
}

// Pixels within reach of a target (set pixels, or cleared ones) of the
// kernel of radius r.
cv::Mat withinReach(const cv::Mat& bin, bool targetIsSet, int r)
{
    cv::Mat dist;
    separableDistance(bin, targetIsSet, dist);
    const double limit = static_cast<double>(r) * r;
    cv::Mat reach(bin.size(), CV_8UC1);
    for (int y = 0; y < bin.rows; ++y) {
        const double* d = dist.ptr<double>(y);
        uchar* out = reach.ptr<uchar>(y);
        const uchar* above = y - r >= 0 ? bin.ptr<uchar>(y - r) : nullptr;
        const uchar* below = y + r < bin.rows ? bin.ptr<uchar>(y + r) : nullptr;
        for (int x = 0; x < bin.cols; ++x) {
            bool hit = d[x] < limit;
            if (!hit && above && (above[x] != 0) == targetIsSet)
                hit = true;
            if (!hit && below && (below[x] != 0) == targetIsSet)
                hit = true;
            out[x] = hit ? 255 : 0;
        }
    }
    return reach;
}

// Sizes up to this go to OpenCV, whose cost grows with the kernel area.
constexpr int kSmallKernel = 15;

}  // namespace

void CammerRecong::openDefects(const cv::Mat& src, cv::Mat& dst, int f)
{
    if (src.empty()) {
        dst = cv::Mat();
        return;
    }
    cv::Mat bin;
    cv::compare(src, 0, bin, cv::CMP_NE);
    if (f < 1)
        f = 1;
    // A kernel that covers the whole picture from every pixel gives the same
    // result as any larger one; bounding it keeps damaged sizes cheap.
    const long long cover = 2LL * (src.cols + src.rows) + 3;
    if (f > cover)
        f = static_cast<int>(cover);
    if (f == 1 || cv::countNonZero(bin) == 0) {
        dst = bin;
        return;
    }
    if (f <= kSmallKernel || f % 2 == 0) {
        const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(f, f));
        cv::morphologyEx(bin, dst, cv::MORPH_OPEN, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                         cv::morphologyDefaultBorderValue());
        return;
    }
    const int r = f / 2;
    // Erosion: a pixel stays set unless a cleared pixel is within reach.
    cv::Mat eroded;
    cv::bitwise_not(withinReach(bin, false, r), eroded);
    if (cv::countNonZero(eroded) == 0) {
        dst = eroded;
        return;
    }
    // Dilation: set wherever a set pixel of the erosion is within reach.
    dst = withinReach(eroded, true, r);
}

// ---- Set-up and training ------------------------------------------------------

void CammerRecong::trainHomography(int step)
{
    if (step < 0 || step >= kSteps || word(Word::Homography) == 0 || gisColor)
        return;
    if (!stepReady(step))
        return;
    const cv::Size frame = frameSize();
    const cv::Mat templ(frame, CV_8UC1, view->templates[step][0]);
    cv::Mat mask = cv::Mat::zeros(frame, CV_8UC1);
    bool any = false;
    const int count = std::clamp(rec->roiCount[step], 0, kRois);
    for (int i = 0; i < count; ++i) {
        if (rec->method[step * kRois + i] != kHomography)
            continue;
        cv::Rect r;
        cv::Mat shape;
        if (roiGeometry(*rec, &view->liveMasks[0][0], step, i, frame, &r, &shape) != 0)
            continue;
        cv::Mat at = mask(r);
        cv::bitwise_or(at, shape, at);
        any = true;
    }
    if (!any)
        mask(defaultRect(frame)).setTo(255);
    homo[step].setTemplate(templ, mask, kHomographyKeyPoints);
}

void CammerRecong::trainPositioning(int step)
{
    if (step < 0 || step >= kSteps || word(Word::MotionCorrection) == -1 || gisColor)
        return;
    searchRect[step] = cv::Rect();
    positionRect_[step] = cv::Rect();
    if (!stepReady(step)) {
        findShape[step].Clear();
        return;
    }
    const cv::Size frame = frameSize();
    cv::Rect r;
    cv::Mat mask;
    bool found = false;
    const int count = std::clamp(rec->roiCount[step], 0, kRois);
    // Mask and rectangle both come from the first usable positioning ROI.
    for (int i = 0; i < count && !found; ++i) {
        if (rec->method[step * kRois + i] != kPositioning)
            continue;
        found = roiGeometry(*rec, &view->liveMasks[0][0], step, i, frame, &r, &mask) == 0;
    }
    if (!found) {
        r = defaultRect(frame);
        mask = cv::Mat(r.size(), CV_8UC1, cv::Scalar(255));
    }
    refX[step] = r.x + r.width / 2;
    refY[step] = r.y + r.height / 2;
    positionRect_[step] = r;
    const cv::Mat templ(frame, CV_8UC1, view->templates[step][0]);
    const int angleRange =
        inRange(word(Word::AngleRange), 1, 180) ? word(Word::AngleRange) : word(Word::MotionCorrection);
    if (!findShape[step].CreateShape(templ(r), 0.0, 0, angleRange, refX[step], refY[step], false, 255, mask.clone(),
                                     word(Word::ShapeAccuracy), word(Word::ShapeLevels)))
        qWarning("CreateShape: no positioning model for step %d (template without usable contrast)", step);

    const long long e = word(Word::SearchMargin);
    const long long x0 = std::max(0LL, r.x - e);
    const long long y0 = std::max(0LL, r.y - e);
    const long long x1 = std::min<long long>(frame.width, static_cast<long long>(r.x) + r.width + e);
    const long long y1 = std::min<long long>(frame.height, static_cast<long long>(r.y) + r.height + e);
    if (x1 > x0 && y1 > y0)
        searchRect[step] = cv::Rect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                                    static_cast<int>(y1 - y0));
}

std::vector<const uchar*> CammerRecong::usedSlots(int step) const
{
    std::vector<const uchar*> out;
    const int slotCount = std::min(view->templates[step].size(), view->tempUsed[step].size());
    const int wanted = view->tempCount[step];
    for (int n = 0; n < slotCount && static_cast<int>(out.size()) < wanted; ++n) {
        if (view->tempUsed[step][n] != 0 && view->templates[step][n])
            out.push_back(view->templates[step][n]);
    }
    return out;
}

std::vector<cv::Mat> CammerRecong::usedTemplates(int step)
{
    std::vector<cv::Mat> out;
    const cv::Size frame = frameSize();
    for (const uchar* slot : usedSlots(step)) {
        cv::Mat grey;
        if (gisColor)
            colourToGrey(slot, frame.width, frame.height, grey);
        else
            grey = cv::Mat(frame, CV_8UC1, const_cast<uchar*>(slot));
        out.push_back(grey);
    }
    return out;
}

cv::Mat CammerRecong::saturatedMask(int step) const
{
    const cv::Size frame = frameSize();
    cv::Mat out = cv::Mat::zeros(frame, CV_8UC1);
    cv::Mat top;
    for (const uchar* slot : usedSlots(step)) {
        if (gisColor) {
            std::vector<cv::Mat> channels;
            cv::split(cv::Mat(frame, CV_8UC4, const_cast<uchar*>(slot)), channels);
            cv::max(channels[0], channels[1], top);
            cv::max(top, channels[2], top);
        } else {
            top = cv::Mat(frame, CV_8UC1, const_cast<uchar*>(slot));
        }
        cv::Mat at;
        cv::compare(top, 255, at, cv::CMP_EQ);
        cv::bitwise_or(out, at, out);
    }
    return out;
}

int CammerRecong::saturatedPixels(int step, int roi) const
{
    if (step < 0 || step >= kSteps || roi < 0 || roi >= kRois)
        return 0;
    return saturated_[step][roi];
}

void CammerRecong::trainMatchers(int step)
{
    if (step < 0 || step >= kSteps)
        return;
    for (int i = 0; i < kRois; ++i) {
        if (grayMatch[step][i].IsValid())
            grayMatch[step][i].Clear();
        if (surf[step][i].IsValid())
            surf[step][i].Clear();
    }
    stepMask[step] = cv::Mat();
    templNorm[step] = 0.0;
    std::fill(std::begin(saturated_[step]), std::end(saturated_[step]), 0);
    if (!stepReady(step) || !view->ignoreMask[step])
        return;
    const cv::Size frame = frameSize();
    const cv::Mat* masks = &view->liveMasks[0][0];
    const int count = std::clamp(rec->roiCount[step], 0, kRois);

    // Ignored points and exclusion shapes are 255 first; the inverse is the
    // judged-pixel mask.
    cv::Mat judged = cv::Mat(frame, CV_8UC1, view->ignoreMask[step]).clone();
    for (int i = 0; i < count; ++i) {
        if (rec->method[step * kRois + i] != kExclusion)
            continue;
        cv::Rect r;
        cv::Mat shape;
        if (roiGeometry(*rec, masks, step, i, frame, &r, &shape) != 0)
            continue;
        cv::Mat at = judged(r);
        cv::bitwise_or(at, shape, at);
    }
    cv::bitwise_not(judged, judged);
    stepMask[step] = judged;

    // Every template picture is converted and measured once per call.
    const std::vector<cv::Mat> samples = usedTemplates(step);
    templNorm[step] = samples.empty() ? 0.0 : cv::norm(samples.back(), cv::NORM_L2);
    cv::Mat saturated;  // made for the first region that compares with the templates

    for (int i = 0; i < count; ++i) {
        const int j = step * kRois + i;
        const int func = rec->method[j];
        if (func != kGreyTemplate && func != kFeature)
            continue;
        cv::Rect r;
        cv::Mat shape;
        if (roiGeometry(*rec, masks, step, i, frame, &r, &shape) != 0)
            continue;
        cv::Mat effective;
        cv::bitwise_and(shape, judged(r), effective);
        if (saturated.empty())
            saturated = saturatedMask(step);
        cv::Mat clipped;
        cv::bitwise_and(saturated(r), effective, clipped);
        saturated_[step][i] = cv::countNonZero(clipped);
        if (func == kFeature) {
            SURF& s = surf[step][i];
            if (!s.Create(r.width, r.height, effective))
                continue;
            for (const cv::Mat& sample : samples)
                s.AddTemp(sample(r), 1, 50, rec->p1[j]);
            s.Train(0, 0, 0, 0);
        } else {
            GrayMatch& m = grayMatch[step][i];
            if (!m.Create(r.width, r.height, effective, 0))
                continue;
            for (const cv::Mat& sample : samples)
                m.AddTemp(sample(r));
            m.Train(rec->p1[j], word(Word::Amplify), 100, 150);
        }
    }
}

// ---- Alignment ----------------------------------------------------------------

namespace {

// Where a transformed all-255 mask stays fully set: the pixels a transform
// filled from inside the source alone. `moved` is the transformed mask.
cv::Mat fullySet(const cv::Mat& moved)
{
    cv::Mat valid;
    cv::compare(moved, 255, valid, cv::CMP_EQ);
    return valid;
}

}  // namespace

int CammerRecong::homography(int step)
{
    workValid_.release();
    alignedValid_ = FrameValidity();
    if (!framesReady()) {
        qWarning("HomoTransShape: camera view without frame buffers");
        return 1;
    }
    const size_t bytes = static_cast<size_t>(view->frameBytes);
    if (word(Word::Homography) == 0 || step < 0 || step >= kSteps) {
        std::memcpy(view->workFrame, view->captureFrame, bytes);
        return 1;
    }
    if (gisColor) {
        if (!colourWarned_) {
            qWarning("HomoTransShape: homography alignment is not supported for colour cameras; frames are judged "
                     "unaligned");
            colourWarned_ = true;
        }
        std::memcpy(view->workFrame, view->captureFrame, bytes);
        return 1;
    }
    const cv::Size frame = frameSize();
    const cv::Mat captured(frame, CV_8UC1, view->captureFrame);
    cv::Mat work(frame, CV_8UC1, view->workFrame);
    cv::Mat out = work;
    if (!homo[step].transImageHomo(captured, out, kHomographyMatchConf)) {
        std::memcpy(view->workFrame, view->captureFrame, bytes);
        return 1;
    }
    if (out.data != work.data) {
        if (out.size() == frame && out.type() == CV_8UC1) {
            out.copyTo(work);
        } else {
            std::memcpy(view->workFrame, view->captureFrame, bytes);
            return 1;
        }
    }
    const cv::Mat& h = homo[step].lastTransform;
    if (h.rows == 3 && h.cols == 3) {
        cv::Mat moved;
        cv::warpPerspective(FrameValidity::allSet(frame), moved, h, frame, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
        workValid_ = fullySet(moved);
    }
    return 1;
}

// Where the positioning model puts the part: the shift (to a fraction of a
// pixel) and turn that move the frame onto the template.
struct CammerRecong::Placement {
    double dx = 0.0;
    double dy = 0.0;
    double angle = 0.0;
    QElapsedTimer clock;  // since the search began, for the log
};

void CammerRecong::positioning(int g)
{
    alignedValid_ = FrameValidity::whole(workValid_, frameSize());
    if (!framesReady()) {
        qWarning("ShapeMatch: camera view without frame buffers");
        return;
    }
    const size_t bytes = static_cast<size_t>(view->frameBytes);
    if (g < 0 || g >= kSteps || word(Word::MotionCorrection) == -1 || !findShape[g].IsValid() || gisColor ||
        searchRect[g].area() <= 0) {
        std::memcpy(view->alignedFrame, view->workFrame, bytes);
        return;
    }
    const cv::Size frame = frameSize();
    const cv::Mat work(frame, CV_8UC1, view->workFrame);
    if ((searchRect[g] & cv::Rect(0, 0, frame.width, frame.height)) != searchRect[g]) {
        std::memcpy(view->alignedFrame, view->workFrame, bytes);
        return;
    }
    Placement at;
    if (!findPlacement(g, work, at) || !applyPlacement(g, work, at))
        std::memcpy(view->alignedFrame, view->workFrame, bytes);
}

bool CammerRecong::findPlacement(int g, const cv::Mat& work, Placement& at)
{
    const cv::Size frame = work.size();
    // A search over the whole frame reads the work frame itself: nothing
    // writes it while the search runs.
    const bool wholeFrame = searchRect[g] == cv::Rect(0, 0, frame.width, frame.height);
    const cv::Mat cut = wholeFrame ? work : work(searchRect[g]).clone();
    at.clock.start();
    cv::Point2d found;
    double score = 0.0;
    if (!findShape[g].Find(cut, 0, &found, &score, &at.angle)) {
        qInfo() << "NG运行时间" << at.clock.elapsed();
        return false;
    }
    // The shift keeps its fraction of a pixel: rounded, the mould's edges
    // would sit up to half a pixel off their trained place on top of the
    // pixel the comparison allows them.
    at.dx = found.x - searchRect[g].x;
    at.dy = found.y - searchRect[g].y;
    // A place far from the trained one is not believed: a mould does not
    // wander, while a part missing its far end (a short shot) lines up with
    // its template elsewhere and a repeating pattern does everywhere. The
    // part is looked for near the trained place instead; found there with
    // nearly the same score, it is taken, else the far place is refused and
    // the frame judged as it stands.
    const int near = std::max(kNearMin, static_cast<int>(kNearShare * std::max(frame.width, frame.height)));
    if (std::max(std::abs(at.dx), std::abs(at.dy)) > near) {
        const cv::Rect home = cv::Rect(positionRect_[g].x - near, positionRect_[g].y - near,
                                       positionRect_[g].width + 2 * near, positionRect_[g].height + 2 * near) &
                              searchRect[g];
        cv::Point2d homeFound;
        double homeScore = 0.0;
        double homeAngle = 0.0;
        const bool nearFound = positionRect_[g].area() > 0 && home.area() > 0 &&
                               findShape[g].Find(work(home).clone(), 0, &homeFound, &homeScore, &homeAngle) &&
                               homeScore >= kNearScore * score &&
                               std::max(std::abs(homeFound.x - home.x), std::abs(homeFound.y - home.y)) <= near;
        if (!nearFound) {
            qInfo() << "NG运行时间" << at.clock.elapsed() << "x: " << std::lround(at.dx)
                    << "y: " << std::lround(at.dy) << "a: " << at.angle << "(refused: too far from the trained place)";
            return false;
        }
        qInfo("ShapeMatch: %.1f,%.1f scores %.1f, %.1f,%.1f near the trained place %.1f: the near one is taken",
              at.dx, at.dy, score, homeFound.x - home.x, homeFound.y - home.y, homeScore);
        at.dx = homeFound.x - home.x;
        at.dy = homeFound.y - home.y;
        at.angle = homeAngle;
    }
    if (!inRange(word(Word::AngleRange), 1, 180))
        at.angle = 0.0;
    return true;
}

bool CammerRecong::applyPlacement(int g, const cv::Mat& work, const Placement& at)
{
    const cv::Size frame = work.size();
    const double dx = at.dx;
    const double dy = at.dy;
    const double angle = at.angle;
    // One warp: the shift, then the turn about the reference point. Pixels
    // from beyond the frame come in black.
    cv::Mat motion = cv::getRotationMatrix2D(cv::Point2f(static_cast<float>(refX[g]), static_cast<float>(refY[g])),
                                             angle, 1.0);
    motion.at<double>(0, 2) += motion.at<double>(0, 0) * dx + motion.at<double>(0, 1) * dy;
    motion.at<double>(1, 2) += motion.at<double>(1, 0) * dx + motion.at<double>(1, 1) * dy;
    const bool whole = angle == 0.0 && dx == std::round(dx) && dy == std::round(dy);
    auto align = [&](const cv::Mat& src, cv::Mat& dst) {
        if (whole)
            MoveImage(src, dst, static_cast<int>(dx), static_cast<int>(dy));
        else
            cv::warpAffine(src, dst, motion, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
    };
    // Warped straight into the aligned frame (taken back when the position
    // is refused).
    cv::Mat aligned(frame, CV_8UC1, view->alignedFrame);
    cv::Mat moved = aligned;
    align(work, moved);
    FrameValidity movedValid;
    if (workValid_.size() == frame || whole) {
        cv::Mat movedMask;
        align(workValid_.size() == frame ? workValid_ : FrameValidity::allSet(frame), movedMask);
        movedValid = FrameValidity::whole(fullySet(movedMask), frame);
    } else {
        movedValid = FrameValidity::ofAffine(frame, motion);
    }
    if (moved.size() == frame && moved.type() == CV_8UC1 && (dx != 0.0 || dy != 0.0 || angle != 0.0) &&
        !fitsBetter(g, moved, movedValid, work)) {
        // A peak elsewhere that fits the template worse than the frame as it
        // stands: the part has not gone there. Judge the frame unaligned.
        qInfo() << "NG运行时间" << at.clock.elapsed() << "x: " << std::lround(dx) << "y: " << std::lround(dy)
                << "a: " << angle << "(refused: fits the template worse than no movement)";
        return false;
    }
    if (moved.size() == frame && moved.type() == CV_8UC1) {
        if (moved.data != aligned.data)
            moved.copyTo(aligned);
        alignedValid_ = movedValid;
    } else {
        std::memcpy(view->alignedFrame, view->workFrame, static_cast<size_t>(view->frameBytes));
    }
    qInfo() << "OK运行时间" << at.clock.elapsed() << "x: " << std::lround(dx) << "y: " << std::lround(dy)
            << "a: " << angle;
    return true;
}

bool CammerRecong::fitsBetter(int step, const cv::Mat& moved, const FrameValidity& movedValid,
                              const cv::Mat& unmoved) const
{
    const cv::Size frame = frameSize();
    const cv::Rect r = positionRect_[step] & cv::Rect(0, 0, frame.width, frame.height);
    if (r.width < 16 || r.height < 16 || !stepReady(step))
        return true;
    const cv::Mat templ(frame, CV_8UC1, view->templates[step][0]);
    const cv::Size small(std::max(4, r.width / 4), std::max(4, r.height / 4));
    // Pixels the movement brought in from outside count as the template's
    // own in both pictures: they say nothing either way. Only the parts of
    // the frame's edges that were brought in are looked at.
    std::vector<std::pair<cv::Rect, cv::Mat>> outside;
    for (const auto& part : movedValid.partsOver(r)) {
        cv::Mat brought;
        cv::compare(part.second, 255, brought, cv::CMP_NE);
        if (cv::countNonZero(brought) > 0)
            outside.emplace_back(part.first, brought);
    }
    const bool patched = !outside.empty();
    // The template and the two pictures are shrunk side by side.
    const cv::Mat* sources[3] = {&templ, &moved, &unmoved};
    cv::Mat shrunk[3];
    cv::parallel_for_(cv::Range(0, 3), [&](const cv::Range& range) {
        for (int k = range.start; k < range.end; ++k) {
            cv::Mat shown = (*sources[k])(r);
            if (k > 0 && patched) {
                shown = shown.clone();
                for (const auto& part : outside)
                    templ(r)(part.first).copyTo(shown(part.first), part.second);
            }
            cv::resize(shown, shrunk[k], small, 0, 0, cv::INTER_AREA);
        }
    });
    auto likeness = [&](const cv::Mat& b) {
        cv::Mat score;
        cv::matchTemplate(b, shrunk[0], score, cv::TM_CCOEFF_NORMED);
        const float v = score.at<float>(0, 0);
        return std::isfinite(v) ? v : -1.0f;
    };
    // A pixel or two of movement hardly shows at this scale: only a clear
    // loss refuses the position.
    return likeness(shrunk[1]) >= likeness(shrunk[2]) - kLikenessMargin;
}

// ---- Judging ------------------------------------------------------------------

int CammerRecong::filterSize(int func, int p3) const
{
    long long f;
    switch (func) {
    case kGreyTemplate:
        f = word(Word::RoiLimits) != 0 ? p3 : word(Word::GreyFilter);
        break;
    case kFeature:
        f = 1;
        break;
    case kBrightBlobs:
    case kDarkBlobs:
        f = 2LL * p3 + 1;
        break;
    default:
        f = word(Word::BandFilter);
        break;
    }
    if (f < 1)
        f = 1;
    return static_cast<int>(std::min<long long>(f, INT_MAX));
}

void CammerRecong::fillDefects(int step, int i, int func, int p1, int p2, int p3, const cv::Mat& picture,
                               const cv::Mat& colour, const cv::Mat& judged, cv::Mat& defects, float* score)
{
    defects = cv::Mat::zeros(picture.size(), CV_8UC1);
    auto band = [&](int lo, int hi) {
        cv::Mat t;
        ThresholdFUNC(picture, t, lo, hi);
        cv::bitwise_and(t, judged, defects);
    };
    switch (func) {
    case kGreyTemplate: {
        const GrayMatch& m = grayMatch[step][i];
        if (m.IsValid()) {
            cv::Mat out = cv::Mat::zeros(picture.size(), CV_8UC1);
            m.Match(picture, out);
            if (out.size() == picture.size() && out.type() == CV_8UC1)
                defects = out;
        }
        break;
    }
    case kFeature: {
        const SURF& s = surf[step][i];
        if (s.IsValid()) {
            cv::Mat copy = picture.clone();
            cv::Mat out = cv::Mat::zeros(picture.size(), CV_8UC1);
            const float v = s.Match(copy, out);
            if (score)
                *score = v;
            if (out.size() == picture.size() && out.type() == CV_8UC1)
                defects = out;
        }
        break;
    }
    case kGreyBand: {
        const int a = p3 & 0xff;
        const int b = (p3 >> 8) & 0xff;
        band(std::min(a, b), std::max(a, b));
        break;
    }
    case kDarkPixels:
    case kDarkBlobs:
        band(0, p1 & 0xff);
        break;
    case kBrightPixels:
    case kBrightBlobs:
        band(p1 & 0xff, 255);
        break;
    case kColourBox: {
        if (!gisColor || colour.empty())
            break;
        std::vector<cv::Mat> channels;
        cv::split(colour, channels);
        defects.setTo(255);
        const int params[3] = {p1, p2, p3};
        const int channelOf[3] = {2, 1, 0};
        for (int k = 0; k < 3; ++k) {
            int lo = low16(params[k]);
            int hi = high16(params[k]);
            if (lo > hi)
                std::swap(lo, hi);
            cv::Mat t;
            ThresholdFUNC(channels[channelOf[k]], t, lo, hi);
            cv::bitwise_and(t, judged, t);
            cv::bitwise_and(defects, t, defects);
        }
        break;
    }
    default:
        band(0, 255);
        break;
    }
}

namespace {

// Area and boxes of the blobs of one filtered defect picture.
struct Blobs {
    int area = 0;
    int count = 0;
};

Blobs measureBlobs(const cv::Mat& filtered, cv::Point origin, int (*boxes)[4], int maxBoxes)
{
    Blobs b;
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(filtered, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    b.count = static_cast<int>(contours.size());
    int stored = 0;
    for (const auto& c : contours) {
        b.area = static_cast<int>(b.area + cv::contourArea(c));
        if (boxes && stored < maxBoxes) {
            const cv::Rect r = cv::boundingRect(c);
            int* box = boxes[1 + stored];
            box[0] = r.x + origin.x;
            box[1] = r.y + origin.y;
            box[2] = box[0] + r.width;
            box[3] = box[1] + r.height;
            ++stored;
        }
    }
    if (boxes)
        boxes[0][0] = stored;
    return b;
}

}  // namespace

// What every region of a step is compared on.
struct CammerRecong::StepPictures {
    cv::Size frame;
    cv::Mat judged;       // the grey (or hue) picture, normalised when asked
    cv::Mat colour;       // the colour frame (colour cameras only)
    FrameValidity valid;  // the pixels that show the captured frame
};

// One region's comparison, ready for its verdict.
struct CammerRecong::Compared {
    int fault = 0;
    cv::Rect r;
    cv::Mat filtered;
    Blobs blobs;
    float score = 0.0f;
    std::exception_ptr error;
};

namespace {

bool judgedByOthers(int func)
{
    return func == CammerRecong::kExclusion || func == CammerRecong::kPositioning ||
           func == CammerRecong::kHomography;
}

}  // namespace

CammerRecong::StepPictures CammerRecong::stepPictures(int step)
{
    StepPictures p;
    p.frame = frameSize();
    cv::Mat grey;
    if (gisColor) {
        grey = cv::Mat(p.frame, CV_8UC1, view->greyScratch);
        const auto* words = reinterpret_cast<const unsigned int*>(view->alignedFrame);
        if (gisGrayHue)
            RGBA2Gray(view->greyScratch, words, p.frame.width, p.frame.height);
        else
            RGBA2Hue(view->greyScratch, words, p.frame.width, p.frame.height);
        p.colour = cv::Mat(p.frame, CV_8UC4, view->alignedFrame);
    } else {
        grey = cv::Mat(p.frame, CV_8UC1, view->alignedFrame);
    }
    p.judged = grey;
    if (word(Word::Normalise) != 0 && templNorm[step] > 0.0)
        cv::normalize(grey, p.judged, templNorm[step], 0.0, cv::NORM_L2, -1);
    return p;
}

void CammerRecong::compareRoi(int step, int i, const StepPictures& pictures, Compared& out)
{
    const int j = step * kRois + i;
    const int func = rec->method[j];
    if (judgedByOthers(func))
        return;
    try {
        const cv::Mat* masks = &view->liveMasks[0][0];
        const cv::Mat& sm = stepMask[step];
        const cv::Size frame = pictures.frame;
        cv::Mat shape;
        if (masks[j].empty())
            out.fault = kFaultMask;
        else if (sm.rows == 0 || sm.cols == 0 || sm.size() != frame)
            out.fault = kFaultStepMask;
        else
            out.fault = roiGeometry(*rec, masks, step, i, frame, &out.r, &shape);
        if (out.fault != 0)
            return;
        const cv::Rect& r = out.r;
        const int p1 = rec->p1[j];
        const int p2 = rec->p2[j];
        const int p3 = rec->p3[j];
        const cv::Mat picture = pictures.judged(r);
        // The judged pixels bound the band tests; a matcher was trained
        // with its own.
        const cv::Mat validHere = pictures.valid.over(r);
        cv::Mat judged;
        if (func != kGreyTemplate && func != kFeature) {
            cv::bitwise_and(sm(r), shape, judged);
            if (!validHere.empty())
                cv::bitwise_and(judged, validHere, judged);
        }
        cv::Mat defects;
        fillDefects(step, i, func, p1, p2, p3, picture, pictures.colour.empty() ? cv::Mat() : pictures.colour(r),
                    judged, defects, &out.score);
        if (!validHere.empty() && defects.size() == r.size())
            cv::bitwise_and(defects, validHere, defects);

        const int f = filterSize(func, p3);
        if (func == kBrightBlobs || func == kDarkBlobs) {
            const long long fl = std::max(1LL, 2LL * p3 + 1);
            const int m = std::min(r.width, r.height);
            if (fl >= 2LL * (m / 2) - 2)
                defects.setTo(0);
        }
        openDefects(defects, out.filtered, f);
        out.blobs = measureBlobs(out.filtered, r.tl(), view->defectRects[step][i], kMaxDefectRects);
    } catch (...) {
        out.error = std::current_exception();
    }
}

void CammerRecong::recordFault(int step, int i, int fault, const param_roi& record)
{
    view->stepOk = false;
    view->roiPassed[step][i] = false;
    view->roiValue[step][i] = 0;
    view->roiArea[step][i] = 0;
    view->defectRects[step][i][0][0] = 0;
    const QString text = QStringLiteral("REG RUN ERROR = %1, %2, %3").arg(record.camera).arg(step).arg(fault);
    qWarning("%s", qPrintable(text));
    if (heldRecords)
        heldRecords->append(text);
    else
        Databases::get().InsertRecord(text, QString());
    MachineOutputs::get().roiJudged(record);
}

bool CammerRecong::passes(int j, const Compared& done, param_roi& record, int* value) const
{
    const int func = rec->method[j];
    const int p1 = rec->p1[j];
    const int p2 = rec->p2[j];
    const int p3 = rec->p3[j];
    const Blobs& blobs = done.blobs;
    *value = blobs.area;
    switch (func) {
    case kGreyBand:
        record.param1 = p1;
        record.param2 = p2;
        return *value >= p1 && *value <= p2;
    case kDarkPixels:
    case kBrightPixels:
        record.param1 = 0;
        record.param2 = p2;
        return *value <= p2;
    case kFeature:
        *value = static_cast<int>(done.score);
        record.param1 = p1;
        return *value >= p1;
    case kBrightBlobs:
    case kDarkBlobs:
        *value = blobs.count;
        record.param1 = low16(p2);
        record.param2 = high16(p2);
        return *value >= low16(p2) && *value <= high16(p2);
    case kColourBox:
        return *value >= word(Word::ColourMin) && *value <= word(Word::ColourMax);
    default: {  // 0 and above 10
        const int limit = word(Word::RoiLimits) != 0 ? p2 : word(Word::GreyArea);
        record.param1 = p1;
        record.param2 = p2;
        record.param3 = p3;
        return word(Word::AreaIsMinimum) == 0 ? *value <= limit : *value >= limit;
    }
    }
}

void CammerRecong::recordVerdict(int step, int i, const Compared& done, cv::Mat& result)
{
    const int j = step * kRois + i;
    const int func = rec->method[j];
    if (judgedByOthers(func)) {
        view->roiValue[step][i] = 0;
        view->roiArea[step][i] = 0;
        view->defectRects[step][i][0][0] = 0;
        return;
    }
    if (done.error)
        std::rethrow_exception(done.error);
    // Words the verdict leaves unset read -1.
    param_roi record;
    record.algorithm = record.param1 = record.param2 = record.param3 = -1;
    record.camera = view->cameraIndex;
    record.detect = step;
    record.roi = i;
    record.func = func;
    if (done.fault != 0) {
        recordFault(step, i, done.fault, record);
        return;
    }
    cv::Mat at = result(done.r);
    cv::bitwise_or(at, done.filtered, at);
    record.algorithm = done.blobs.area;
    int value = 0;
    const bool pass = passes(j, done, record, &value);
    view->roiValue[step][i] = value;
    view->roiArea[step][i] = done.blobs.area;
    if (!pass) {
        view->stepOk = false;
        view->roiPassed[step][i] = false;
    }
    record.result = pass ? 1 : 0;
    MachineOutputs::get().roiJudged(record);
}

void CammerRecong::judgeStep(int step)
{
    if (!view)
        return;
    if (step < 0 || step >= kSteps || !framesReady()) {
        qWarning("Run: step %d cannot be judged (no such step or no frame buffers)", step);
        view->stepOk = false;
        return;
    }
    const int count = std::clamp(rec->roiCount[step], 0, kRois);
    view->stepOk = true;
    for (int i = 0; i < count; ++i)
        view->roiPassed[step][i] = true;

    StepPictures pictures = stepPictures(step);
    cv::Mat result(pictures.frame, CV_8UC1, view->resultImage);
    result.setTo(0);
    // Pixels the alignment brought in from outside the captured frame show
    // nothing of the part: they are never judged.
    pictures.valid = alignedValid_;
    alignedValid_ = FrameValidity();

    // The regions are compared at once on the idle cores: each writes only
    // its own defect boxes. What a region's verdict writes elsewhere (the
    // view's values, the result picture, the records) follows in region
    // order, as when they were compared one after the other.
    std::vector<Compared> compared(static_cast<size_t>(count));
    cv::parallel_for_(cv::Range(0, count), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i)
            compareRoi(step, i, pictures, compared[static_cast<size_t>(i)]);
    });
    for (int i = 0; i < count; ++i)
        recordVerdict(step, i, compared[static_cast<size_t>(i)], result);
}

void CammerRecong::preview(int step, int roi)
{
    if (!view)
        return;
    if (step < 0 || step >= kSteps || roi < 0 || roi >= kRois || !framesReady() || !view->editRecord) {
        qWarning("RunTest: step %d, ROI %d cannot be previewed", step, roi);
        return;
    }
    const cv::Size frame = frameSize();
    const int slot = view->tempIndex;
    if (slot < 0 || slot >= view->templates[step].size() || !view->templates[step][slot]) {
        qWarning("RunTest: no template picture in slot %d of step %d", slot, step);
        return;
    }
    cv::Mat grey;
    cv::Mat colour;
    if (gisColor) {
        grey = cv::Mat(frame, CV_8UC1, view->greyScratch);
        colour = cv::Mat(frame, CV_8UC4, view->templates[step][slot]);
    } else {
        grey = cv::Mat(frame, CV_8UC1, view->templates[step][slot]);
    }
    cv::Mat result(frame, CV_8UC1, view->resultImage);
    result.setTo(0);
    view->roiValue[step][roi] = 0;
    view->defectRects[step][roi][0][0] = 0;

    const CammerSingleton& edit = *view->editRecord;
    if (roi >= std::clamp(edit.roiCount[step], 0, kRois)) {
        view->requestRepaint();
        return;
    }
    const int j = step * kRois + roi;
    const int func = edit.method[j];
    if (func == kGreyTemplate || func == kExclusion || func == kPositioning || func == kFeature ||
        func == kHomography) {
        view->requestRepaint();
        return;
    }
    const cv::Mat& sm = stepMask[step];
    cv::Rect r;
    cv::Mat shape;
    int fault = 0;
    if (view->editMasks[step][roi].empty())
        fault = kFaultMask;
    else if (sm.rows == 0 || sm.cols == 0 || sm.size() != frame)
        fault = kFaultStepMask;
    else
        fault = roiGeometry(edit, &view->editMasks[0][0], step, roi, frame, &r, &shape);
    if (fault != 0) {
        qWarning("RunTest: ROI %d of step %d cannot be previewed (code %d)", roi, step, fault);
        view->requestRepaint();
        return;
    }
    const int p1 = edit.p1[j];
    const int p2 = edit.p2[j];
    const int p3 = edit.p3[j];
    cv::Mat judged;
    cv::bitwise_and(sm(r), shape, judged);
    cv::Mat defects;
    fillDefects(step, roi, func, p1, p2, p3, grey(r), colour.empty() ? cv::Mat() : colour(r), judged, defects,
                nullptr);
    if (func == kBrightBlobs || func == kDarkBlobs) {
        const long long fl = std::max(1LL, 2LL * p3 + 1);
        const int m = std::min(r.width, r.height);
        if (fl >= 2LL * (m / 2) - 2)
            defects.setTo(0);
    }
    cv::Mat filtered;
    openDefects(defects, filtered, filterSize(func, p3));
    cv::Mat at = result(r);
    cv::bitwise_or(at, filtered, at);
    const Blobs blobs = measureBlobs(filtered, r.tl(), nullptr, 0);
    view->roiValue[step][roi] = (func == kBrightBlobs || func == kDarkBlobs) ? blobs.count : blobs.area;
    view->previewShown = true;
    view->requestRepaint();
}

// ---- Entry points -------------------------------------------------------------
// OpenCV reports misuse by exceptions; none may leave the engine. A failed
// training leaves the step untrained, a failed alignment passes the frame on
// unaligned, a failed judgement makes the step NG.

namespace {

template <typename F>
bool guarded(const char* what, F&& f)
{
    try {
        f();
        return true;
    } catch (const cv::Exception& e) {
        qWarning("%s: %s", what, e.what());
    } catch (const std::exception& e) {
        qWarning("%s: %s", what, e.what());
    }
    return false;
}

}  // namespace

bool CammerRecong::stepReady(int step) const
{
    // Steps past the view's step count have no template slots and are
    // never detected: they stay untrained without a message.
    return rec && view && step >= 0 && step < kSteps && step < view->stepCount() && view->imageWidth > 0 &&
           view->imageHeight > 0 && !view->templates[step].isEmpty() && view->templates[step][0];
}

void CammerRecong::CreateHomoShape(int step)
{
    if (!guarded("CreateHomoShape", [&] { trainHomography(step); }) && step >= 0 && step < kSteps)
        homo[step] = ImgHomoTrans();
}

void CammerRecong::CreateShape(int step)
{
    if (!guarded("CreateShape", [&] { trainPositioning(step); }) && step >= 0 && step < kSteps) {
        findShape[step].Clear();
        searchRect[step] = cv::Rect();
    }
}

void CammerRecong::VarTrain(int step)
{
    if (!guarded("VarTrain", [&] { trainMatchers(step); }) && step >= 0 && step < kSteps) {
        stepMask[step] = cv::Mat();
        std::fill(std::begin(saturated_[step]), std::end(saturated_[step]), 0);
        for (int i = 0; i < kRois; ++i) {
            grayMatch[step][i].Clear();
            surf[step][i].Clear();
        }
    }
}

void CammerRecong::ForgetStep(int step)
{
    if (step < 0 || step >= kSteps)
        return;
    homo[step] = ImgHomoTrans();
    findShape[step].Clear();
    searchRect[step] = cv::Rect();
    positionRect_[step] = cv::Rect();
    refX[step] = 0;
    refY[step] = 0;
    stepMask[step] = cv::Mat();
    templNorm[step] = 0.0;
    std::fill(std::begin(saturated_[step]), std::end(saturated_[step]), 0);
    for (int i = 0; i < kRois; ++i) {
        grayMatch[step][i].Clear();
        surf[step][i].Clear();
    }
}

int CammerRecong::HomoTransShape(int step)
{
    if (!guarded("HomoTransShape", [&] { homography(step); }) && framesReady())
        std::memcpy(view->workFrame, view->captureFrame, static_cast<size_t>(view->frameBytes));
    return 1;
}

void CammerRecong::ShapeMatch(int step)
{
    if (!guarded("ShapeMatch", [&] { positioning(step); }) && framesReady())
        std::memcpy(view->alignedFrame, view->workFrame, static_cast<size_t>(view->frameBytes));
}

void CammerRecong::ShapeMatch()
{
    ShapeMatch(gpState ? gpState->cycle().detectStep : 0);
}

void CammerRecong::JudgeHeld(int step, QStringList* records)
{
    heldRecords = records;
    HomoTransShape(step);
    ShapeMatch(step);
    Run(step);
    heldRecords = nullptr;
}

void CammerRecong::Run(int step)
{
    if (!guarded("Run", [&] { judgeStep(step); }) && view)
        view->stepOk = false;
}

void CammerRecong::RunTest(int step, int roi)
{
    guarded("RunTest", [&] { preview(step, roi); });
}
