// The camera view's side of its ROI parameter panel (roipanel.h): building
// it and showing it for the selection. What the panel's buttons do to the
// regions the region editor (roieditor.h) does.
#include "cammerwidget.h"

#include "cammerrecongnize.h"

void CammerWidget::BuildRoiPanel()
{
    RoiPanel::Host host;
    host.record = [this] { return editRecord; };
    host.step = [] { return RoiEditor::editStep(); };
    host.roi = [this] { return roiEditor.current(); };
    host.moveMode = [this] { return roiEditor.moveMode(); };
    host.object = [this] { return roiEditor.object(); };
    host.scales = [this] { return RoiPanel::Scales{scales.fullY, scales.winX, scales.winY}; };
    host.canPreview = [this] { return engine_ != nullptr; };
    host.preview = [this](int step, int roi) { engine_->RunTest(step, roi); };
    roiPanel = new RoiPanel(this, std::move(host));
    connect(roiPanel, &RoiPanel::nextRoi, &roiEditor, &RoiEditor::nextRoi);
    connect(roiPanel, &RoiPanel::nextObject, &roiEditor, &RoiEditor::nextObject);
    connect(roiPanel, &RoiPanel::nextMoveMode, &roiEditor, &RoiEditor::nextMoveMode);
    connect(roiPanel, &RoiPanel::move, &roiEditor, &RoiEditor::moveBy);
    connect(roiPanel, &RoiPanel::stepPressed, &roiEditor, &RoiEditor::stepButton);
    connect(roiPanel, &RoiPanel::reshow, this, &CammerWidget::ShowHideROIPara);
    connect(roiPanel, &RoiPanel::changed, this, QOverload<>::of(&QWidget::update));
}

void CammerWidget::ShowHideROIPara()
{
    previewShown = false;
    if (roiPanel && !roiPanel->rebuild()) {
        // Nothing selected: the editor's move mode and part start afresh.
        roiEditor.forgetPart();
    }
    update();
}
