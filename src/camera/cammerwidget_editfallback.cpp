// Weak stand-ins for the camera view's ROI editing operations that the ROI
// page calls, for builds without the touch editing and the parameter panel
// (cammerwidget_edit.cpp, cammerwidget_panel.cpp). Those files define the
// same functions; the linker then takes theirs and these are never used.
// Only the record and mask bookkeeping is done here; there is no panel and
// no polygon drawing without touch editing.
#include "cammerwidget.h"

#include "rivurevezi.h"
#include "wizardpara.h"

#include <algorithm>
#include <cstring>

#define VMM_WEAK __attribute__((weak))

VMM_WEAK int gDrawHint = 0;

namespace {
int fallbackWord(int n)
{
    return (gpWPara && n >= 0 && n < kParaWords) ? gpWPara->words[n] : 0;
}

int fallbackStep()
{
    return gpWin ? std::clamp(gpWin->currentDetect, 0, kMaxDetect - 1) : 0;
}
}  // namespace

VMM_WEAK void CammerWidget::setCurRoi(int roi)
{
    if (roi == curRoi)
        return;
    curRoi = roi;
    if (editRecord)
        editRecord->setSelectRoi(roi);
}

VMM_WEAK void CammerWidget::DeselectROI()
{
    editAction = 0;
    polygonActive = false;
    if (fallbackWord(162) == 0) {
        if (gpWin)
            gpWin->drawMode = 0;
        polyPointCount = 0;
    }
    const int g = fallbackStep();
    if (editRecord && curRoi >= 0 && curRoi < kMaxRoi) {
        editRecord->rect[g][curRoi].SetSelected(false);
        editRecord->circle[g][curRoi].SetSelected(false);
        editRecord->polygon[g][curRoi].SetSelected(false);
    }
    curRoi = -1;
}

VMM_WEAK void CammerWidget::DeleteROI(int roi)
{
    const int g = fallbackStep();
    if (!editRecord || roi < 0 || roi >= kMaxRoi)
        return;
    const int j = g * kMaxRoi + roi;
    if (g < stepCount() && ignoreMask[g]) {
        QRect r;
        const int kind = editRecord->kind[j];
        if (kind == 1)
            r = editRecord->rect[g][roi].imgRect;
        else if (kind == 4)
            r = editRecord->circle[g][roi].imgRect;
        else
            r = editRecord->polygon[g][roi].imgRect;
        r = r.intersected(QRect(0, 0, imageWidth, imageHeight));
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memset(ignoreMask[g] + size_t(y) * size_t(imageWidth) + r.left(), 0, size_t(r.width()));
        SaveIgnorePoint(g);
    }
    const int count = std::clamp(editRecord->roiCount[g], 0, kMaxRoi);
    if (roi >= count)
        return;
    for (int i = roi; i + 1 < count; ++i) {
        const int a = g * kMaxRoi + i;
        const int b = a + 1;
        editRecord->rect[g][i] = editRecord->rect[g][i + 1];
        editRecord->circle[g][i] = editRecord->circle[g][i + 1];
        editRecord->polygon[g][i] = editRecord->polygon[g][i + 1];
        editMasks[g][i] = editMasks[g][i + 1];
        editRecord->p1[a] = editRecord->p1[b];
        editRecord->p2[a] = editRecord->p2[b];
        editRecord->p3[a] = editRecord->p3[b];
        editRecord->method[a] = editRecord->method[b];
        editRecord->kind[a] = editRecord->kind[b];
        if (g == 0)
            editRecord->outputNo[i] = editRecord->outputNo[i + 1];
    }
    editRecord->roiCount[g] = count - 1;
}

VMM_WEAK void CammerWidget::SavePolygon() {}

VMM_WEAK void CammerWidget::BackMask()
{
    for (int g = 0; g < gDNum && g < kMaxDetect; ++g)
        for (int i = 0; i < kMaxRoi; ++i)
            editMasks[g][i] = liveMasks[g][i].clone();
}

VMM_WEAK void CammerWidget::RestorMask()
{
    const int mode = fallbackWord(WizardPara::kMode);
    const bool shared = fallbackWord(94) != 0;
    for (int g = 0; g < gDNum && g < kMaxDetect; ++g) {
        if (shared && mode == 0 && fallbackWord(86) != 0 && g % 2 == 1)
            continue;
        if (shared && (mode == 1 || mode == 2) && g >= 2)
            continue;
        for (int i = 0; i < kMaxRoi; ++i)
            liveMasks[g][i] = editMasks[g][i].clone();
    }
}

VMM_WEAK void CammerWidget::CopyPara()
{
    if (!savedRecord)
        return;
    const int mode = fallbackWord(WizardPara::kMode);
    auto copyStep = [this](int from, int to) {
        CammerSingleton& r = *savedRecord;
        r.roiCount[to] = r.roiCount[from];
        for (int i = 0; i < kMaxRoi; ++i) {
            const int a = from * kMaxRoi + i;
            const int b = to * kMaxRoi + i;
            r.rect[to][i] = r.rect[from][i];
            r.rect[to][i].SetSelected(false);
            r.circle[to][i] = r.circle[from][i];
            r.circle[to][i].SetSelected(false);
            r.polygon[to][i] = r.polygon[from][i];
            r.polygon[to][i].SetSelected(false);
            liveMasks[to][i] = liveMasks[from][i].clone();
            r.kind[b] = r.kind[a];
            r.p1[b] = r.p1[a];
            r.p2[b] = r.p2[a];
            r.p3[b] = r.p3[a];
            r.method[b] = r.method[a];
        }
    };
    if (mode == 0) {
        copyStep(0, 1);
    } else if (mode == 1 || mode == 2) {
        copyStep(0, 2);
        copyStep(1, 3);
    }
}

VMM_WEAK void CammerWidget::ShowHideROIPara()
{
    previewShown = false;
    update();
}
