// Regions left blind by an over-exposed template. A region compared with its
// template pictures cannot see a darkening where they are saturated: the
// true value behind a clipped pixel is unknown, so its band cannot follow
// the light there. Every training the operator brings about (a template
// taken at a mould opening, Resample, a picture added as a template) names
// such regions on the screen and in the operation record; the judging is
// left as it is.
#pragma once

#include <QString>
#include <QVector>

class CammerWidget;

namespace OverExposure {

// Region lines a notice lists before it only counts the rest.
constexpr int kListed = 6;

struct Region {
    int camera = 0;  // 0-based, as the views count
    int step = 0;
    int roi = 0;
    int pixels = 0;  // saturated template pixels the region judges
};

// The regions of the view's step whose template pictures held saturated
// pixels at the step's last training, in region order.
QVector<Region> regions(const CammerWidget& view, int step);

// The operation record's line for one region in the operator's language
// (one line a region: each names where to look, and training happens only
// at the operator's word).
QString recordLine(const Region& region);

// The notice naming the regions in the operator's language: a heading, a
// line a region (kListed at most, then how many more), the remedy. Empty
// for no regions.
QString noticeText(const QVector<Region>& regions);

}  // namespace OverExposure
