#include "overexposure.h"

#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "lanstr.h"

#include <QStringList>

#include <algorithm>

namespace OverExposure {

namespace {
constexpr int kHeadingRow = 728;
constexpr int kRegionRow = 729;
constexpr int kMoreRow = 730;
constexpr int kRemedyRow = 731;
constexpr int kRecordRow = 732;
}  // namespace

QVector<Region> regions(const CammerWidget& view, int step)
{
    QVector<Region> out;
    const CammerRecong* engine = view.engine();
    if (!engine || !view.savedRecord || step < 0 || step >= CammerRecong::kSteps)
        return out;
    const int count = std::clamp(view.savedRecord->roiCount[step], 0, int(CammerRecong::kRois));
    for (int i = 0; i < count; ++i) {
        const int pixels = engine->saturatedPixels(step, i);
        if (pixels > 0)
            out.append(Region{view.cameraIndex, step, i, pixels});
    }
    return out;
}

QString recordLine(const Region& region)
{
    return lanStr(kRecordRow)
        .arg(region.camera + 1)
        .arg(region.step + 1)
        .arg(region.roi + 1)
        .arg(region.pixels);
}

QString noticeText(const QVector<Region>& regions)
{
    if (regions.isEmpty())
        return QString();
    QStringList lines{lanStr(kHeadingRow)};
    const int listed = std::min(int(regions.size()), kListed);
    for (int k = 0; k < listed; ++k) {
        const Region& r = regions[k];
        lines << lanStr(kRegionRow).arg(r.camera + 1).arg(r.step + 1).arg(r.roi + 1).arg(r.pixels);
    }
    if (regions.size() > listed)
        lines << lanStr(kMoreRow).arg(regions.size() - listed);
    lines << lanStr(kRemedyRow);
    return lines.join(QLatin1Char('\n'));
}

}  // namespace OverExposure
