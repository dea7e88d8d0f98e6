#include "driftscene.h"

#include "cameraconfig.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

namespace mouldcam {

namespace {

// Two incommensurate sines: slow, smooth and never exactly periodic, within
// [-1, 1].
double swing(double t, double phaseA, double phaseB)
{
    return 0.7 * std::sin(2.0 * CV_PI * t + phaseA) + 0.3 * std::sin(2.0 * CV_PI * t * 2.618 + phaseB);
}

}  // namespace

DriftScene::DriftScene(const DriftSettings& settings, quint32 seed, int width)
    : s_(settings), seed_(seed), pixelScale_(width / 1280.0)
{
    cv::RNG rng(quint64(seed) * 0xD1B54A32D192ED03ull + 11u);
    for (double& p : phase_)
        p = rng.uniform(0.0, 2.0 * CV_PI);
}

FramePose DriftScene::pose(quint64 index, quint64 sinceOpen) const
{
    FramePose p;
    // The vibration and flicker every frame shows, drift or not.
    cv::RNG rng(quint64(seed_) * 0x9E3779B97F4A7C15ull ^ (index * 0xBF58476D1CE4E5B9ull + 7));
    p.dx = rng.uniform(-1.5, 1.5) * pixelScale_;
    p.dy = rng.uniform(-1.5, 1.5) * pixelScale_;
    p.angle = rng.uniform(-0.4, 0.4);
    p.gain = rng.uniform(0.97, 1.03);
    if (!s_.on)
        return p;

    const double t = double(index + s_.start) / double(std::max<quint64>(1, s_.period));
    p.gain = (1.0 + s_.lighting * swing(t, phase_[0], phase_[1])) * (1.0 + rng.uniform(-s_.flicker, s_.flicker));
    // The mould moves more slowly than the light changes.
    p.dx += s_.shift * pixelScale_ * swing(t / 2.3, phase_[2], phase_[3]);
    p.dy += s_.shift * pixelScale_ * swing(t / 3.1, phase_[3], phase_[4]);
    p.angle += (s_.rotation - 0.4) * swing(t / 2.7, phase_[4], phase_[0]);
    p.blur = rng.uniform(0.0, s_.blur);
    p.noise = s_.noise;
    const int off = s_.partOffset > 0 ? std::max(1, int(std::lround(s_.partOffset * pixelScale_))) : 0;
    p.partDx = rng.uniform(-off, off + 1);
    p.partDy = rng.uniform(-off, off + 1);
    // A camera just opened: the exposure starts low and settles.
    if (sinceOpen < quint64(std::max(0, s_.settleFrames)))
        p.gain *= 1.0 - 0.08 * double(quint64(s_.settleFrames) - sinceOpen) / double(s_.settleFrames);
    return p;
}

std::vector<DefectCase> defectCases(const std::vector<double>& sizes, const std::vector<double>& contrasts)
{
    static const DefectCase kKinds[] = {
        {DefectShortShot, true, 1, 1, "shortshot"}, {DefectFlash, true, 1, 1, "flash"},
        {DefectColorBlob, true, 1, 1, "colorblob"}, {DefectSpot, true, 1, 1, "spot"},
        {DefectMissingInsert, true, 1, 1, "missinginsert"}, {DefectLeftPart, false, 1, 1, "leftpart"},
    };
    std::vector<DefectCase> out;
    for (const DefectCase& kind : kKinds)
        for (double size : sizes)
            for (double contrast : contrasts) {
                DefectCase c = kind;
                c.size = size;
                c.contrast = contrast;
                out.push_back(c);
            }
    return out;
}

}  // namespace mouldcam
