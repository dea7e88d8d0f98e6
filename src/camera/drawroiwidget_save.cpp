// Saving the ROI edits: compare each camera's edited record with its saved
// one, write one operation-record row per added, deleted or changed region,
// make the edited record live, store it and retrain the engine.
#include "drawroiwidget.h"

#include "databases.h"
#include "cameraviews.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "drawroiwidget_p.h"
#include "notice.h"
#include "winstate.h"

#include <QCoreApplication>

#include <algorithm>

using namespace roipage;

namespace {

bool shapesMethod(int method)
{
    return method == CammerRecong::kPositioning || method == CammerRecong::kHomography;
}

QString shapeName(int kind)
{
    if (kind == RoiShape::Rect)
        return lanStr(74);
    if (kind == RoiShape::Circle)
        return lanStr(75);
    return lanStr(76);
}

QString methodName(int method)
{
    switch (method) {
    case CammerRecong::kGreyTemplate:
        return lanStr(25);
    case CammerRecong::kGreyBand:
        return lanStr(15);
    case CammerRecong::kExclusion:
        return lanStr(17);
    case CammerRecong::kPositioning:
        return lanStr(21);
    case CammerRecong::kBrightBlobs:
        return lanStr(521);
    case CammerRecong::kDarkBlobs:
        return lanStr(626);
    case CammerRecong::kColourBox:
        return QCoreApplication::translate("DrawROIWidget", "颜色斑点");
    case CammerRecong::kHomography:
        return lanStr(583);
    default:
        return QString();
    }
}

// The grey band of the spot function lives in the two low bytes of p3; the
// engine takes the smaller as the lower bound, and so does the record.
int greyLow(int p3)
{
    return std::min(p3 & 0xff, (p3 >> 8) & 0xff);
}

int greyHigh(int p3)
{
    return std::max(p3 & 0xff, (p3 >> 8) & 0xff);
}

// What an added region does, in words.
QString addedFunction(int method, int p1, int p2, int p3)
{
    switch (method) {
    case CammerRecong::kGreyTemplate:
        return lanStr(78).arg(p1).arg(p3).arg(p2);
    case CammerRecong::kGreyBand:
        return lanStr(77).arg(greyLow(p3)).arg(greyHigh(p3)).arg(p1).arg(p2);
    case CammerRecong::kExclusion:
        return lanStr(17);
    case CammerRecong::kPositioning:
        return lanStr(79).arg(p1).arg(p2).arg(p3);
    case CammerRecong::kHomography:
        return lanStr(583);
    default:
        return QString();
    }
}

QString changeText(int row, int before, int after)
{
    return before == after ? QString() : lanStr(row).arg(before).arg(after);
}

// The parameter changes of a region whose method is now `method`; `listed`
// tells whether one of the parameters that are worth a row changed.
QString changedDetails(int method, const CammerSingleton& a, const CammerSingleton& b, int j, bool* listed)
{
    *listed = false;
    switch (method) {
    case CammerRecong::kGreyTemplate: {
        const QString t1 = changeText(94, a.p1[j], b.p1[j]);
        const QString t2 = changeText(95, a.p2[j], b.p2[j]);
        const QString t3 = changeText(96, a.p3[j], b.p3[j]);
        *listed = !(t1.isEmpty() && t2.isEmpty() && t3.isEmpty());
        return lanStr(97).arg(t1, t2, t3);
    }
    case CammerRecong::kGreyBand: {
        const QString t1 = changeText(85, greyLow(a.p3[j]), greyLow(b.p3[j]));
        const QString t2 = changeText(86, greyHigh(a.p3[j]), greyHigh(b.p3[j]));
        const QString t3 = changeText(87, a.p1[j], b.p1[j]);
        const QString t4 = changeText(88, a.p2[j], b.p2[j]);
        *listed = !(t1.isEmpty() && t2.isEmpty() && t3.isEmpty() && t4.isEmpty());
        return lanStr(89).arg(t1, t2, t3, t4);
    }
    case CammerRecong::kExclusion:
        return lanStr(17);
    case CammerRecong::kPositioning: {
        const QString t1 = changeText(90, a.p1[j], b.p1[j]);
        const QString t2 = changeText(91, a.p2[j], b.p2[j]);
        const QString t3 = changeText(92, a.p3[j], b.p3[j]);
        *listed = !(t1.isEmpty() && t2.isEmpty() && t3.isEmpty());
        return lanStr(93).arg(t1, t2, t3);
    }
    case CammerRecong::kHomography:
        return lanStr(583);
    default:
        return QString();
    }
}

// Whether the shape of the region's (new) kind differs between the records.
bool geometryChanged(const CammerSingleton& a, const CammerSingleton& b, int g, int i)
{
    const int kind = b.kind[g * CammerSingleton::kRois + i];
    if (kind == RoiShape::Rect)
        return a.rect[g][i] != b.rect[g][i];
    if (kind == RoiShape::Circle)
        return a.circle[g][i] != b.circle[g][i];
    return a.polygon[g][i] != b.polygon[g][i];
}

bool stepEnabled(int g)
{
    return liveWord(Word::StepEnabled0 + g) != 0;
}

// The slots (step * kRois + region) of the regions `after` adds to
// `before` or gives another shape or place.
QVector<int> reshapedRegions(const CammerSingleton& before, const CammerSingleton& after)
{
    QVector<int> reshaped;
    for (int g = 0; g < gDNum && g < CammerSingleton::kSteps; ++g) {
        const int oldCount = std::clamp(before.roiCount[g], 0, CammerSingleton::kRois);
        const int newCount = std::clamp(after.roiCount[g], 0, CammerSingleton::kRois);
        for (int i = 0; i < newCount; ++i)
            if (i >= oldCount || geometryChanged(before, after, g, i))
                reshaped.append(g * CammerSingleton::kRois + i);
    }
    return reshaped;
}

}  // namespace

bool DrawROIWidget::LogChanges(int camera, const CammerSingleton& before, const CammerSingleton& after)
{
    bool rebuild = false;
    for (int g = 0; g < gDNum && g < CammerSingleton::kSteps; ++g) {
        const QString prefix = lanStr(73).arg(QString::number(camera + 1), detectName(g));
        const int oldCount = std::clamp(before.roiCount[g], 0, CammerSingleton::kRois);
        const int newCount = std::clamp(after.roiCount[g], 0, CammerSingleton::kRois);
        for (int i = 0; i < std::max(oldCount, newCount); ++i) {
            const int j = g * CammerSingleton::kRois + i;
            const QString number = QString::number(i + 1);
            if (i >= oldCount) {
                rebuild = rebuild || shapesMethod(after.method[j]);
                Databases::get().InsertRecord(prefix + lanStr(80).arg(shapeName(after.kind[j]), number,
                                                           addedFunction(after.method[j], after.p1[j], after.p2[j],
                                                                         after.p3[j])),
                                   QString());
                continue;
            }
            if (i >= newCount) {
                rebuild = rebuild || shapesMethod(before.method[j]);
                Databases::get().InsertRecord(
                    prefix + lanStr(81).arg(shapeName(before.kind[j]), number, methodName(before.method[j])), QString());
                continue;
            }
            const bool same = after.sameRoi(before, j);
            // A positioning region steers the whole step: its shapes follow
            // every change of the camera's record. A changed region that is,
            // or was, a positioning or homography region does too.
            if (after.method[j] == CammerRecong::kPositioning ||
                (!same && (shapesMethod(before.method[j]) || shapesMethod(after.method[j]))))
                rebuild = true;
            if (same)
                continue;
            const bool moved = geometryChanged(before, after, g, i);
            const int m = after.method[j];
            const QString function = m == before.method[j]
                                         ? lanStr(84)
                                         : lanStr(82) + methodName(before.method[j]) + lanStr(83);
            bool listed = false;
            const QString details = changedDetails(m, before, after, j, &listed);
            using F = CammerRecong::Function;
            const bool paramsWorthRow = (m == F::kGreyTemplate || m == F::kGreyBand || m == F::kPositioning) && listed;
            if (!moved && !paramsWorthRow)
                continue;
            Databases::get().InsertRecord(prefix + lanStr(99).arg(shapeName(after.kind[j]), number, function, details,
                                                       moved ? lanStr(98) : QString()),
                               QString());
        }
    }
    return rebuild;
}

void DrawROIWidget::SlotSaveData()
{
    if (!win_)
        return;
    bool differs = false;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        const CammerWidget* v = CameraViews::at(c);
        if (v && v->savedRecord && v->editRecord && *v->savedRecord != *v->editRecord)
            differs = true;
    }
    // The regions drawn, moved or resized by this save, per camera (step
    // and region as one slot): the templates they now judge may be
    // saturated there, which no training will name for them.
    QVector<int> drawn[kMaxCamera];
    if (differs && ask(lanStr(72))) {
        const int m = mode();
        const bool shared =
            liveWord(Word::SameParameters) != 0 && ((m == DetectMode::Standard && liveWord(Word::StepEnabled0) != 0) ||
                                                m == DetectMode::TwoColour || m == DetectMode::Turntable);
        for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
            CammerWidget* v = CameraViews::at(c);
            if (!v || !v->savedRecord || !v->editRecord || *v->savedRecord == *v->editRecord)
                continue;
            const bool rebuild = LogChanges(c, *v->savedRecord, *v->editRecord);
            drawn[c] = reshapedRegions(*v->savedRecord, *v->editRecord);
            *v->savedRecord = *v->editRecord;
            v->RestorMask();
            if (shared) {
                v->CopyPara();
                *v->editRecord = *v->savedRecord;
                v->BackMask();
            }
            v->savedRecord->SaveDatatoFile();
            retrainPending[c] = true;
            if (rebuild) {
                for (int g = 0; g < gDNum && g < CammerSingleton::kSteps; ++g) {
                    if (stepEnabled(g))
                        v->rebuildShapes(g);
                }
            }
        }
    }
    QVector<OverExposure::Region> overExposed;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (!retrainPending[c])
            continue;
        retrainPending[c] = false;
        const unsigned added = addedPending[c];
        addedPending[c] = 0;
        CammerWidget* v = CameraViews::at(c);
        if (!v)
            continue;
        for (int g = 0; g < gDNum && g < CammerSingleton::kSteps; ++g) {
            if (!stepEnabled(g))
                continue;
            v->retrain(g);
            for (const OverExposure::Region& r : OverExposure::regions(*v, g))
                if (((added >> g) & 1u) || drawn[c].contains(g * CammerSingleton::kRois + r.roi))
                    overExposed += r;
        }
    }
    // Pictures added as templates from the recent NG pictures are trained
    // only now, and regions drawn on templates taken earlier judge them
    // only now: the regions left blind are named now, each once.
    for (const OverExposure::Region& r : overExposed)
        Databases::get().InsertRecord(OverExposure::recordLine(r), QString());
    if (!overExposed.isEmpty())
        Notice::post(this, OverExposure::noticeText(overExposed));
}
