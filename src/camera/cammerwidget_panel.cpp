// The camera view's side of its ROI parameter panel (roipanel.h): building
// it, showing it for the selection, and the step buttons, which move the
// selected region's part.
#include "cammerwidget.h"

#include "cammersingleton.h"
#include "globals.h"
#include "miscfunc.h"
#include "roifunctions.h"

#include <algorithm>
#include <climits>

namespace {

// Plain addition without leaving the int range.
int addPlain(int p, int d)
{
    return static_cast<int>(std::clamp<long long>(static_cast<long long>(p) + d, INT_MIN, INT_MAX));
}

}  // namespace

void CammerWidget::BuildRoiPanel()
{
    RoiPanel::Host host;
    host.record = [this] { return editRecord; };
    host.step = [] { return editStep(); };
    host.roi = [this] { return curRoi; };
    host.moveMode = [this] { return moveMode; };
    host.object = [this] { return objectIndex; };
    host.scales = [this] { return RoiPanel::Scales{fullScaleY, winSW, winSH}; };
    host.canPreview = [this] { return engine != nullptr; };
    host.preview = [this](int step, int roi) { engine->RunTest(step, roi); };
    roiPanel = new RoiPanel(this, std::move(host));
    connect(roiPanel, &RoiPanel::nextRoi, this, &CammerWidget::SlotNextROI);
    connect(roiPanel, &RoiPanel::nextObject, this, &CammerWidget::SlotChangeObject);
    connect(roiPanel, &RoiPanel::nextMoveMode, this, &CammerWidget::SlotMoveAll);
    connect(roiPanel, &RoiPanel::move, this, &CammerWidget::SlotMove);
    connect(roiPanel, &RoiPanel::stepPressed, this, &CammerWidget::StepButton);
    connect(roiPanel, &RoiPanel::reshow, this, &CammerWidget::ShowHideROIPara);
    connect(roiPanel, &RoiPanel::changed, this, QOverload<>::of(&QWidget::update));
}

void CammerWidget::ShowHideROIPara()
{
    previewShown = false;
    if (roiPanel && !roiPanel->rebuild()) {
        // Nothing selected: the editor's move mode and part start afresh.
        moveMode = MoveMode::None;
        objectIndex = 0;
    }
    update();
}

// ---- Step buttons -------------------------------------------------------------------

void CammerWidget::StepButton(int button)
{
    if (!editRecord || button < 0 || button > 3)
        return;
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= std::clamp(rec.roiCount[g], 0, kMaxRoi))
        return;
    static const QPoint delta[4] = {QPoint(0, -1), QPoint(-1, 0), QPoint(0, 1), QPoint(1, 0)};
    static const int radiusStep[4] = {10, 1, -1, -10};
    const QPoint d = delta[button];
    switch (rec.kind[g * kMaxRoi + curRoi]) {
    case RoiShape::Rect: {
        QRect& r = rec.rect[g][curRoi].rect;
        if (objectIndex == 1)
            r.setBottomRight(r.bottomRight() + d);
        else
            r.setTopLeft(r.topLeft() + d);
        CheckInRange(&r, gShowW, gShowH, false);
        break;
    }
    case RoiShape::Polygon: {
        RePolygon& poly = rec.polygon[g][curRoi];
        if (objectIndex < 0 || objectIndex >= poly.count())
            return;
        QPoint q = poly.pts[objectIndex] + d;
        int x = q.x();
        int y = q.y();
        CheckInRange(&x, 1, gShowW, gShowH);
        CheckInRange(&y, 0, gShowW, gShowH);
        poly.pts[objectIndex] = QPoint(x, y);
        break;
    }
    case RoiShape::Circle: {
        Circle& c = rec.circle[g][curRoi];
        if (objectIndex == 2) {
            c.x += d.x();
            c.y += d.y();
        } else if (objectIndex == 1) {
            c.r = addPlain(c.r, radiusStep[button]);
        } else {
            c.ri = addPlain(c.ri, radiusStep[button]);
        }
        c.UpdateRect();
        CheckInRange(&c.rect, gShowW, gShowH, false);
        c.UpdateAll();
        break;
    }
    default:
        return;
    }
    RenewRoi(g, curRoi);
    update();
}
