// The main window's side of the ROI tool page: opening it on an NG and after
// a training run, closing it when a manual decision cleared the NG, and the
// return from a training run.
#include "rivurevezi.h"

#include "mouldcycle.h"

#include "cameraviews.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "editsession.h"
#include "indexbutton.h"
#include "sysword.h"
#include "tapguard.h"

#include <QAbstractSlider>
#include <QBoxLayout>
#include <QFile>

namespace {

// A step of a camera that still has to capture its first template.
bool needsTemplate(const CammerWidget* v, int camera, int step)
{
    return step >= v->stepCount() || v->isUntrained(step) ||
           !QFile::exists(QStringLiteral("./cammer%1%2/template0.bmp").arg(camera + 1).arg(step + 1));
}

}  // namespace

void RiVuRevezi::InitRoiPage()
{
    if (!drawROIWidget) {
        drawROIWidget = new DrawROIWidget(this, this);
        drawROIWidget->installEventFilter(this);
    }
    if (indexButton)
        connect(indexButton, &IndexButton::roiClicked, this, &RiVuRevezi::SlotDrawROI, Qt::UniqueConnection);
}

void RiVuRevezi::OpenRoiPage()
{
    if (!drawROIWidget)
        return;
    if (SettingsVisible()) {
        // One screen at a time: the settings keep the screen until they are
        // closed (their edits are not thrown away for an NG; the interlocks
        // and the alarm hold it meanwhile), then the page opens.
        roiPageWaiting = true;
        ShowNgWaitingMark();
        return;
    }
    roiPageWaiting = false;
    ShowNgWaitingMark();
    if (indexButton)
        indexButton->hideButtons();
    showhideHelp(false);
    if (!drawROIWidget->isVisible()) {
        cameraBeforeRoiPage = EditSession::get().currentCamera();
        detectStateBeforeRoiPage = cycle().detectState;
    }
    drawROIWidget->Reset();
}

void RiVuRevezi::OpenRoiPageByItself()
{
    if (!drawROIWidget)
        return;
    const bool shown = drawROIWidget->isVisible();
    OpenRoiPage();
    // Its buttons lie where the run screen's or the settings' did: a finger
    // already on its way meant what was there.
    if (!shown && drawROIWidget->isVisible())
        tapguard::cameUp(drawROIWidget);
}

void RiVuRevezi::OpenWaitingRoiPage()
{
    if (!roiPageWaiting)
        return;
    roiPageWaiting = false;
    ShowNgWaitingMark();
    // Only while what asked for it still holds: an NG, or region setting.
    if (cycle().detectState == DetectState::NgLatched || cycle().detectState == DetectState::RegionSetting)
        OpenRoiPageByItself();
}

void RiVuRevezi::FitRoiPageColumn()
{
    auto* root = qobject_cast<QBoxLayout*>(layout());
    if (!drawROIWidget || !root || !bottomBar)
        return;
    int left = 0;
    int right = 0;
    if (drawROIWidget->isVisible()) {
        if (drawROIWidget->x() < width() / 2)
            left = drawROIWidget->width();
        else
            right = drawROIWidget->width();
    }
    const bool tiled = numCamera > 1 && EditSession::get().currentCamera() == numCamera;
    const QMargins screen = tiled ? QMargins(left, 0, right, 0) : QMargins();
    const QMargins bar = tiled ? QMargins() : QMargins(left, 0, right, 0);
    if (root->contentsMargins() == screen && bottomBar->contentsMargins() == bar)
        return;
    root->setContentsMargins(screen);
    bottomBar->setContentsMargins(bar);
    root->activate();
}

void RiVuRevezi::RestoreViewAfterRoiPage()
{
    if (cameraBeforeRoiPage < 0)
        return;
    const int camera = cameraBeforeRoiPage;
    cameraBeforeRoiPage = -1;
    if (camera <= numCamera)
        EditSession::get().setCurrentCamera(camera);
    gSource = PictureSource::None;
    // The verdict shown before the page opened comes back, updated by any
    // decision taken on the page; a screen that showed none stays so.
    mould->restoreShownVerdict(detectStateBeforeRoiPage);
    ChangeCammer();
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        if (CameraViews::at(c))
            CameraViews::at(c)->update();
}

void RiVuRevezi::SlotDrawROI()
{
    if (!drawROIWidget || cycle().detectState == DetectState::RegionSetting)
        return;
    if (cycle().detectState == DetectState::NgLatched) {
        OpenRoiPage();
        return;
    }
    if (CheckPassword() == 0)
        return;
    mould->enterRegionSetting();
    OpenRoiPage();
}

void RiVuRevezi::CheckArea()
{
    if (!templatesCaptured)
        return;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        const CammerWidget* v = CameraViews::at(c);
        if (!v)
            continue;
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
            if (StepActive(k) && needsTemplate(v, c, k))
                return;   // the training run goes on at the next step
    }
    templatesCaptured = false;
    if (!drawROIWidget)
        return;
    gFromTrain = true;
    mould->enterRegionSetting();
    OpenRoiPageByItself();
}

void RiVuRevezi::BackTrain()
{
    mould->backTrain();
    templatesRenewed = true;
}

void RiVuRevezi::TrainRenewedTemplates()
{
    if (!templatesRenewed)
        return;
    templatesRenewed = false;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        if (!v || !v->engine())
            continue;
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
            if (sysWord(Word::StepEnabled0 + k) == 0)
                continue;
            v->engine()->CreateShape(k);
            v->engine()->CreateHomoShape(k);
            v->engine()->VarTrain(k);
        }
    }
}

void RiVuRevezi::RoiPageAfterDecision(bool ok, bool manual)
{
    if (!drawROIWidget || gFromTrain)
        return;
    if (!ok) {
        // A manual decision that is still NG keeps the page as it stands.
        if (!manual)
            OpenRoiPageByItself();
        else if (!drawROIWidget->isVisibleTo(this))
            OpenRoiPage();
        return;
    }
    if (manual && drawROIWidget->isVisibleTo(this))
        drawROIWidget->Restart();
}

void RiVuRevezi::showhideHelp(bool show)
{
    if (settingsCorner)
        settingsCorner->setVisible(show);
    else if (helpButton)
        helpButton->setVisible(show);
}

void RiVuRevezi::showhideVersion(bool show)
{
    for (QWidget* label : versionLabel)
        if (label)
            label->setVisible(show);
}

void RiVuRevezi::MScaleSetToMin()
{
    EditSession::get().setZoom(1.0);
    EditSession::get().setPan(0.0, 0.0);
    if (zoomSlider)
        zoomSlider->setValue(zoomSlider->minimum());
    update();
}

