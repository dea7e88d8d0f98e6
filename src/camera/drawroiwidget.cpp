// The ROI tool page: layout, which controls show, drawing and deleting
// regions, choosing camera and detection, the NG actions (re-detect, do not
// detect), opening and leaving the page.
#include "drawroiwidget.h"

#include "databases.h"
#include "cameraviews.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "editsession.h"
#include "colorbutton.h"
#include "drawroiwidget_p.h"
#include "numberinput.h"
#include "publictools_widget.h"
#include "cyclecontrol.h"
#include "machineoutputs.h"
#include "screenchrome.h"
#include "tapguard.h"
#include "widgetkit.h"
#include "winstate.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cstring>

using namespace roipage;

int gHelpC = 0;

bool DrawROIWidget::sameParamNotePending = true;

namespace {

constexpr int kComboFontPixels = 33;
constexpr int kComboFontPixelsJapanese = 21;

// Captions the tap-drawing buttons show while their mode is on.
const char* const kEndRect = "结束画四边形";
const char* const kEndCircle = "结束画圆形";
const char* const kEndHand = "结束手势区域";
const char* const kEndCopy = "结束区域复制";

// An operator text with its %1 filled; a row missing from the table (no
// placeholder) still shows the value.
QString filledRow(int row, const QString& value)
{
    const QString text = lanStr(row);
    return text.contains(QLatin1String("%1")) ? text.arg(value) : text + value;
}

}  // namespace

DrawROIWidget::DrawROIWidget(QWidget* parent, WinState* state)
    : QWidget(parent)
    , win_(state)
{
    setFixedSize(kWidth, qMax(1, gShowH));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("DrawROIWidget{background: transparent;}"));
    // A second tap on a button of the page (Re-detected, Do not detect)
    // must not press what the closed page uncovers.
    tapguard::guardPage(this);

    auto button = [this](int row) {
        auto* b = new ColorButton(lanStr(row), this);
        b->setFixedSize(kWidth, kButtonHeight);
        return b;
    };
    auto combo = [this] {
        auto* c = new ComboBox(this);
        c->setFixedSize(kWidth, kButtonHeight);
        QFont f(QStringLiteral("wqy-microhei"));
        f.setPixelSize(gLan == kLanJapanese ? kComboFontPixelsJapanese : kComboFontPixels);
        c->setFont(f);
        c->setItemHeight(kButtonHeight);
        return c;
    };

    showHideButton = new ColorButton(QString(), this);
    showHideButton->setFixedSize(kWidth, kButtonHeight);
    showHideButton->setCheckable(true);
    showHideButton->setChecked(false);
    showHideButton->setStyleSheet(QStringLiteral("QPushButton{border:none;border-image:url(./images/ShowHide.png);}"
                                                 "QPushButton:checked{border-image:url(./images/ShowHideChecked.png);}"));

    sourceCombo = combo();
    for (int row : {223, 224, 60, 207, 208})
        sourceCombo->addItem(lanStr(row));
    cameraCombo = combo();
    for (int c = 0; c < numCamera; ++c)
        cameraCombo->addItem(filledRow(43, QString::number(c + 1)));
    if (numCamera >= 2)
        cameraCombo->addItem(lanStr(44));
    detectCombo = combo();
    const int m = mode();
    if (m == DetectMode::Standard) {
        detectCombo->addItem(filledRow(46, lanStr(263)));
        detectCombo->addItem(filledRow(46, lanStr(264)));
    } else if (m == DetectMode::TwoColour || m == DetectMode::Turntable) {
        for (int row = 372; row <= 375; ++row)
            detectCombo->addItem(filledRow(46, lanStr(row)));
    }

    returnButton = button(42);
    noCheckButton = button(47);
    addTempButton = button(48);
    autoChangeButton = button(212);
    helpButton = button(111);
    rectButton = button(49);
    circleButton = button(51);
    polygonButton = button(53);
    handButton = button(104);
    copyButton = button(9);
    deleteRoiButton = button(55);
    deleteAllButton = button(57);
    lastButton = button(59);
    nextButton = button(62);
    lastButton->setFixedSize(118, kButtonHeight);
    nextButton->setFixedSize(118, kButtonHeight);
    tempDeleteButton = button(63);
    alarmPointButton = button(64);
    ignorePointButton = button(54);
    deleteIgnoreButton = button(56);
    reCheckButton = button(61);
    reCheckButton->setStyleSheet(
        QStringLiteral("QPushButton{outline:0px;border:none;font-size:25px;color:white;background-color:#c81e1e;"
                       "border-radius: 8px;}QPushButton:pressed{background-color:#ff5050;}"));

    LayOutColumn();

    if (m == DetectMode::MultiStep)
        ChangeDetectNum(liveWord(Word::StepCountMode3));

    ConnectControls();

    InstallViewLink();
    hide();
}

// The page's controls, one column from the top; the re-check button at the
// bottom.
void DrawROIWidget::LayOutColumn()
{
    auto* column = new QVBoxLayout(this);
    column->setSpacing(1);
    // Fourteen rows of 76 px fill a 1080 px screen: no margin below.
    column->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : std::initializer_list<QWidget*>{showHideButton, sourceCombo, cameraCombo, detectCombo,
                                                       returnButton, noCheckButton, addTempButton, autoChangeButton,
                                                       helpButton, rectButton, circleButton, polygonButton, handButton,
                                                       copyButton, deleteRoiButton, deleteAllButton})
        column->addWidget(w);
    auto* pair = new QHBoxLayout;
    pair->setSpacing(4);
    pair->setContentsMargins(0, 0, 0, 0);
    pair->addWidget(lastButton);
    pair->addWidget(nextButton);
    column->addLayout(pair);
    for (QWidget* w : std::initializer_list<QWidget*>{tempDeleteButton, alarmPointButton, ignorePointButton,
                                                       deleteIgnoreButton})
        column->addWidget(w);
    ngImageNote = new QLabel(this);
    ngImageNote->setFixedWidth(kWidth);
    ngImageNote->setStyleSheet(QStringLiteral("QLabel{color:#ffd54f;background:#3a2f10;border:2px solid #ffd54f;"
                                              "border-radius:6px;font-family:wqy-microhei;font-size:%1px;padding:4px;}")
                                   .arg(kNoteFontPixels));
    ngImageNote->hide();
    column->addWidget(ngImageNote);
    column->addStretch(1);
    column->addWidget(reCheckButton);
}

void DrawROIWidget::ConnectControls()
{
    connect(showHideButton, &QPushButton::clicked, this, &DrawROIWidget::SlotShowHide);
    connect(sourceCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &DrawROIWidget::SlotChangeSource);
    connect(cameraCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &DrawROIWidget::SlotChangeCamera);
    connect(detectCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &DrawROIWidget::SlotChangeDetect);
    connect(returnButton, &QPushButton::clicked, this, &DrawROIWidget::SlotReturn);
    connect(noCheckButton, &QPushButton::clicked, this, &DrawROIWidget::SlotNoCheckCur);
    connect(addTempButton, &QPushButton::clicked, this, &DrawROIWidget::SlotAddTemp);
    connect(autoChangeButton, &QPushButton::clicked, this, &DrawROIWidget::SlotAutoChange);
    connect(helpButton, &QPushButton::clicked, this, &DrawROIWidget::SlotHelp);
    connect(rectButton, &QPushButton::clicked, this, &DrawROIWidget::SlotDrawRect);
    connect(circleButton, &QPushButton::clicked, this, &DrawROIWidget::SlotDrawCircle);
    connect(polygonButton, &QPushButton::clicked, this, &DrawROIWidget::SlotDrawPloygn);
    connect(handButton, &QPushButton::clicked, this, &DrawROIWidget::SlotDrawHand);
    connect(copyButton, &QPushButton::clicked, this, &DrawROIWidget::SlotCopyArea);
    connect(deleteRoiButton, &QPushButton::clicked, this, &DrawROIWidget::SlotDeleteROI);
    connect(deleteAllButton, &QPushButton::clicked, this, &DrawROIWidget::SlotDeleteAllROI);
    connect(lastButton, &QPushButton::clicked, this, &DrawROIWidget::SlotTempLast);
    connect(nextButton, &QPushButton::clicked, this, &DrawROIWidget::SlotTempNext);
    connect(tempDeleteButton, &QPushButton::clicked, this, &DrawROIWidget::SlotTempDeleteCur);
    connect(alarmPointButton, &QPushButton::clicked, this, &DrawROIWidget::SlotShowHideAlarmPoint);
    connect(ignorePointButton, &QPushButton::clicked, this, &DrawROIWidget::SlotIgnoreAlarmPoint);
    connect(deleteIgnoreButton, &QPushButton::clicked, this, &DrawROIWidget::SlotDeleteIgnorePoint);
    connect(reCheckButton, &QPushButton::clicked, this, &DrawROIWidget::SlotReCheck);
}

DrawROIWidget::~DrawROIWidget()
{
    CammerWidget::setPageLink(RoiPageLink());
}

void DrawROIWidget::InstallViewLink()
{
    RoiPageLink link;
    link.startDrawPloygn = [this] { startDrawPloygn(); };
    link.drawPloygn = [this] { SlotDrawPloygn(); };
    link.drawHand = [this] { SlotDrawHand(); };
    link.drawRect = [this] { SlotDrawRect(); };
    link.drawCircle = [this] { SlotDrawCircle(); };
    link.selectCamera = [this](int camera) { setComboQuietly(cameraCombo, camera); };
    link.storedPicture = [this] {
        RoiPageLink::StoredPicture shown;
        shown.camera = storedCamera;
        shown.step = storedDetect;
        shown.count = storedCount;
        shown.index = storedIndex;
        shown.name = storedName;
        shown.picture = &storedPicture;
        return shown;
    };
    CammerWidget::setPageLink(link);
}

// ---- Small helpers ------------------------------------------------------------

bool DrawROIWidget::singleCamera() const
{
    const int c = EditSession::get().currentCamera();
    return win_ && c >= 0 && c < numCamera && c < kMaxCamera;
}

CammerWidget* DrawROIWidget::currentView() const
{
    return singleCamera() ? CameraViews::at(EditSession::get().currentCamera()) : nullptr;
}

bool DrawROIWidget::drawingAllowed() const
{
    return gSource == PictureSource::Template && currentView() != nullptr;
}

void DrawROIWidget::setComboQuietly(ComboBox* combo, int index)
{
    const bool old = combo->blockSignals(true);
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    combo->blockSignals(old);
}

void DrawROIWidget::NormalDrawCaptions()
{
    rectButton->setText(lanStr(49));
    circleButton->setText(lanStr(51));
    polygonButton->setText(lanStr(53));
    handButton->setText(lanStr(104));
}

void DrawROIWidget::showEvent(QShowEvent* e)
{
    if (win_)
        ScreenChrome::get().showhideVersion(false);
    QWidget::showEvent(e);
}

void DrawROIWidget::hideEvent(QHideEvent* e)
{
    if (win_)
        ScreenChrome::get().showhideVersion(true);
    QWidget::hideEvent(e);
}

// ---- Which controls show ---------------------------------------------------------

void DrawROIWidget::showNgImageNote()
{
    // Word 149 inverts every area verdict: a region that matches its
    // template reads "n: limit / 0" in red. The operator is told why, in
    // lines broken between words (the column is narrow).
    if (liveWord(Word::AreaIsMinimum) == 0)
        return;
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(kNoteFontPixels);
    const int room = kWidth - 2 * 2 - 2 * 4 - 4;   // border, padding, a margin
    ngImageNote->setText(wrapAtWords(lanStr(716).arg(lanStr(457).trimmed()), QFontMetrics(f), room));
    ngImageNote->adjustSize();
    ngImageNote->setFixedWidth(kWidth);
    ngImageNote->show();
}

void DrawROIWidget::SlotChangePage()
{
    for (QWidget* w : std::initializer_list<QWidget*>{
             sourceCombo, cameraCombo, detectCombo, returnButton, noCheckButton, addTempButton, autoChangeButton,
             helpButton, rectButton, circleButton, polygonButton, handButton, copyButton, deleteRoiButton,
             deleteAllButton, lastButton, nextButton, tempDeleteButton, alarmPointButton, ignorePointButton,
             deleteIgnoreButton, reCheckButton, ngImageNote})
        w->hide();
    const bool several = numCamera > 1;
    const int state = win_ ? win_->cycle().detectState : DetectState::Idle;
    switch (gSource) {
    case PictureSource::Live:
        sourceCombo->show();
        cameraCombo->setVisible(several);
        if (state == DetectState::NgLatched) {
            addTempButton->show();
            noCheckButton->show();
            autoChangeButton->show();
            reCheckButton->show();
            showNgImageNote();
        } else {
            returnButton->show();
        }
        break;
    case PictureSource::RecentNg:
    case PictureSource::OkRecord:
    case PictureSource::NgRecord:
        sourceCombo->show();
        cameraCombo->setVisible(several);
        detectCombo->show();
        returnButton->show();
        lastButton->show();
        nextButton->show();
        addTempButton->setVisible(gSource == PictureSource::RecentNg);
        break;
    case PictureSource::Template:
        cameraCombo->setVisible(several);
        detectCombo->show();
        returnButton->show();
        sourceCombo->show();
        if (liveWord(Word::ContinuousArea) != 0 && win_)
            EditSession::get().setDrawMode(RoiShape::None);
        for (QWidget* w : std::initializer_list<QWidget*>{rectButton, circleButton, polygonButton, handButton,
                                                           copyButton, deleteRoiButton, deleteAllButton, lastButton,
                                                           nextButton, tempDeleteButton})
            w->show();
        autoChangeButton->setVisible(state == DetectState::NgLatched);
        break;
    default:
        break;
    }
    move(movedAside ? 0 : gShowW - kWidth, 0);
    update();
}

void DrawROIWidget::SlotShowHide()
{
    movedAside = !movedAside;
    SlotChangePage();
}

// ---- Drawing buttons ---------------------------------------------------------------

void DrawROIWidget::setCheckable()
{
    const bool tap = liveWord(Word::ContinuousArea) != 0;
    const bool copyToggle = liveWord(Word::ContinuousCopy) != 0;
    for (ColorButton* b : {rectButton, circleButton, polygonButton, handButton}) {
        b->setCheckable(tap);
        b->setChecked(false);
    }
    copyButton->setCheckable(copyToggle);
    copyButton->setChecked(false);
    if (!tap && !copyToggle)
        return;
    const std::initializer_list<ColorButton*> all{rectButton,  circleButton,    polygonButton,  handButton,
                                                  copyButton,  deleteRoiButton, deleteAllButton};
    for (ColorButton* b : all)
        b->setEnabled(false);
    const int m = win_ ? EditSession::get().drawMode() : RoiShape::None;
    ColorButton* active = nullptr;
    if (m != RoiShape::None && tap) {
        if (m == RoiShape::Rect)
            active = rectButton;
        else if (m == RoiShape::Circle)
            active = circleButton;
        else if (m == RoiShape::Polygon)
            active = (win_ && EditSession::get().handDraw()) ? handButton : polygonButton;
    } else if (win_ && EditSession::get().copyArea() && copyToggle) {
        active = copyButton;
    }
    if (active) {
        active->setChecked(true);
        active->setEnabled(true);
        return;
    }
    for (ColorButton* b : all)
        b->setEnabled(true);
}

void DrawROIWidget::startDrawPloygn()
{
    polygonButton->setText(lanStr(670));
}

void DrawROIWidget::SlotDrawRect()
{
    CammerWidget* v = currentView();
    if (!drawingAllowed())
        return;
    if (liveWord(Word::ContinuousArea) != 0 && EditSession::get().drawMode() == RoiShape::Rect) {
        EditSession::get().setDrawMode(RoiShape::None);
        rectButton->setText(lanStr(49));
    } else {
        EditSession::get().setCopyArea(false);
        v->editor()->deselect();
        v->ShowHideROIPara();
        EditSession::get().setDrawMode(RoiShape::Rect);
        NormalDrawCaptions();
        if (liveWord(Word::ContinuousArea) != 0)
            rectButton->setText(QString::fromUtf8(kEndRect));
    }
    setCheckable();
}

void DrawROIWidget::SlotDrawCircle()
{
    CammerWidget* v = currentView();
    if (!drawingAllowed())
        return;
    if (liveWord(Word::ContinuousArea) != 0 && EditSession::get().drawMode() == RoiShape::Circle) {
        EditSession::get().setDrawMode(RoiShape::None);
        circleButton->setText(lanStr(51));
    } else {
        EditSession::get().setCopyArea(false);
        v->editor()->deselect();
        v->ShowHideROIPara();
        EditSession::get().setDrawMode(RoiShape::Circle);
        NormalDrawCaptions();
        if (liveWord(Word::ContinuousArea) != 0)
            circleButton->setText(QString::fromUtf8(kEndCircle));
    }
    setCheckable();
}

void DrawROIWidget::SlotDrawHand()
{
    CammerWidget* v = currentView();
    if (!drawingAllowed())
        return;
    if (liveWord(Word::ContinuousArea) != 0) {
        if (EditSession::get().drawMode() == RoiShape::Polygon && EditSession::get().handDraw()) {
            EditSession::get().setDrawMode(RoiShape::None);
            handButton->setText(lanStr(104));
        } else {
            EditSession::get().setCopyArea(false);
            EditSession::get().setHandDraw(true);
            v->editor()->deselect();
            EditSession::get().setDrawMode(RoiShape::Polygon);
            v->editor()->forgetPolygonPoints();
            NormalDrawCaptions();
            handButton->setText(QString::fromUtf8(kEndHand));
        }
    } else {
        EditSession::get().setCopyArea(false);
        EditSession::get().setHandDraw(true);
        v->editor()->deselect();
        EditSession::get().setDrawMode(RoiShape::Polygon);
        polygonButton->setText(lanStr(53));
    }
    setCheckable();
}

void DrawROIWidget::SlotDrawPloygn()
{
    CammerWidget* v = currentView();
    if (!drawingAllowed())
        return;
    if (liveWord(Word::ContinuousArea) != 0) {
        if (EditSession::get().drawMode() == RoiShape::Polygon && !EditSession::get().handDraw()) {
            const bool underWay = v->editor()->polygonUnderWay();
            v->editor()->savePolygon();
            if (underWay) {
                v->editor()->abandonPolygon();
                EditSession::get().setDrawMode(RoiShape::Polygon);
                polygonButton->setText(lanStr(33));
            } else {
                EditSession::get().setDrawMode(RoiShape::None);
                polygonButton->setText(lanStr(53));
            }
        } else {
            EditSession::get().setCopyArea(false);
            EditSession::get().setHandDraw(false);
            v->editor()->deselect();
            EditSession::get().setDrawMode(RoiShape::Polygon);
            v->editor()->forgetPolygonPoints();
            NormalDrawCaptions();
            polygonButton->setText(lanStr(33));
        }
    } else {
        EditSession::get().setCopyArea(false);
        EditSession::get().setHandDraw(false);
        if (EditSession::get().drawMode() != RoiShape::Polygon) {
            v->editor()->deselect();
            EditSession::get().setDrawMode(RoiShape::Polygon);
            polygonButton->setText(lanStr(33));
        } else {
            v->editor()->savePolygon();
            if (EditSession::get().drawMode() == RoiShape::None)
                polygonButton->setText(lanStr(53));
        }
    }
    setCheckable();
}

void DrawROIWidget::SlotCopyArea()
{
    if (!drawingAllowed())
        return;
    if (liveWord(Word::ContinuousCopy) == 0) {
        EditSession::get().setCopyArea(true);
        EditSession::get().setDrawMode(RoiShape::None);
        NormalDrawCaptions();
    } else if (EditSession::get().copyArea()) {
        EditSession::get().setCopyArea(false);
        copyButton->setText(lanStr(9));
    } else {
        EditSession::get().setCopyArea(true);
        EditSession::get().setDrawMode(RoiShape::None);
        NormalDrawCaptions();
        copyButton->setText(QString::fromUtf8(kEndCopy));
    }
    setCheckable();
}

// ---- Deleting regions ----------------------------------------------------------------

void DrawROIWidget::SlotDeleteROI()
{
    if (!drawingAllowed())
        return;
    EditSession::get().setCopyArea(false);
    CammerWidget* v = currentView();
    if (v->editor()->current() < 0) {
        warn(lanStr(65));
    } else if (ask(lanStr(66)) && drawingAllowed()) {
        v = currentView();
        v->editor()->deleteRoi(v->editor()->current());
        v->editor()->select(-1);
        v->ShowHideROIPara();
    }
    ScreenChrome::get().repaint();
}

void DrawROIWidget::SlotDeleteAllROI()
{
    if (!drawingAllowed())
        return;
    EditSession::get().setCopyArea(false);
    if (!ask(lanStr(67)) || !drawingAllowed())
        return;
    CammerWidget* v = currentView();
    const int step = EditSession::get().currentDetect();
    if (step < 0 || step >= kMaxDetect || !v->editRecord)
        return;
    v->editRecord->roiCount[step] = 0;
    v->editor()->select(-1);
    v->ShowHideROIPara();
    if (step < v->stepCount() && v->ignoreMask[step]) {
        std::memset(v->ignoreMask[step], 0, size_t(v->pixelCount));
        v->SaveIgnorePoint(step);
    }
    v->update();
}

// ---- Camera and detection choice ----------------------------------------------------

void DrawROIWidget::SlotChangeCamera(int c)
{
    if (c < 0 || numCamera < 1 || !win_)
        return;
    if (c >= numCamera)
        c = gSource == PictureSource::Live ? numCamera : numCamera - 1;
    EditSession::get().setCurrentCamera(c);
    CycleControl::get().changeCammer();
    SlotChangeSource(gSource);
}

void DrawROIWidget::SlotChangeDetect(int d)
{
    if (d < 0 || !win_ || !singleCamera())
        return;
    if (gSource != PictureSource::Template && (gSource < PictureSource::RecentNg || gSource > PictureSource::NgRecord))
        return;
    EditSession::get().setCopyArea(false);
    const int m = mode();
    const bool pairedMode = m == DetectMode::TwoColour || m == DetectMode::Turntable;
    const int t = pairedMode ? (d & 1) : d;
    if (t == 0 && m != DetectMode::MultiStep && liveWord(Word::ProductStepEnabled) == 0) {
        warn(lanStr(118));
        detectCombo->setCurrentIndex(1);
        return;
    }
    if (m == DetectMode::Standard && liveWord(Word::SameParameters) != 0 && liveWord(Word::StepEnabled0) != 0 &&
        gSource == PictureSource::Template && d != 0 && sameParamNotePending) {
        sameParamNotePending = false;
        warn(lanStr(119));
    }
    if (liveWord(Word::SameParameters) != 0 && sameParamNotePending && gSource == PictureSource::Template && pairedMode &&
        d > 1) {
        sameParamNotePending = false;
        warn(lanStr(371));
    }
    if (CammerWidget* v = currentView())
        v->editor()->deselect();
    EditSession::get().setDrawMode(RoiShape::None);
    EditSession::get().setCurrentDetect(qMin(d, kMaxDetect - 1));
    SlotChangeSource(gSource);
}

void DrawROIWidget::ChangeDetectNum(int n)
{
    const bool old = detectCombo->blockSignals(true);
    detectCombo->clear();
    for (int k = 0; k < n && k < kMaxDetect; ++k)
        detectCombo->addItem(filledRow(46, lanStr(477 + k)));
    if (win_) {
        const int step = EditSession::get().currentDetect();
        detectCombo->setCurrentIndex(step < detectCombo->count() ? step : -1);
    }
    detectCombo->blockSignals(old);
}

void DrawROIWidget::setSource(int s)
{
    sourceCombo->setCurrentIndex(s);
}

// ---- Live / template switch and help --------------------------------------------------

void DrawROIWidget::SlotAutoChange()
{
    const bool templateOrLive = gSource == PictureSource::Template || gSource == PictureSource::Live;
    if (!win_ || win_->cycle().detectState != DetectState::NgLatched || !templateOrLive || !singleCamera())
        return;
    if (gSource == PictureSource::Live) {
        sourceCombo->setCurrentIndex(PictureSource::Template);
        return;
    }
    sourceCombo->setCurrentIndex(PictureSource::Live);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        if (!v || v->stepOk)
            continue;
        v->setBlink(Blink::Off);
        v->startAlarmBlink();
    }
}

void DrawROIWidget::SlotHelp()
{
    gHelpC = 6;
    emit helpRequested();
}

// ---- NG actions ------------------------------------------------------------------------

void DrawROIWidget::SlotReCheck()
{
    if (!win_)
        return;
    const int running = qBound(0, win_->cycle().runStep, kMaxDetect - 1);
    const int camera = EditSession::get().currentCamera();
    SlotSaveData();
    CycleControl::get().resetRun();

    const int m = mode();
    const int s = (m == DetectMode::TwoColour || m == DetectMode::Turntable) ? (running & 1) : running;
    CycleControl::get().holdForReDetect(s);

    int reDetected = 0;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        if (!v || v->stepSettled(running) || liveWord(Word::StepEnabled0 + running) == 0)
            continue;
        reDetected |= 1 << c;
        CycleControl::get().clearNg(c, running, AlarmCode::ReDetected);
        CycleControl::get().runAlgorithm(c, running);
    }

    CycleControl::get().reDetect(s, reDetected);
    CycleControl::get().decideByOperator();

    if (camera >= 0 && camera < numCamera) {
        if (win_->cycle().detectState == DetectState::NgLatched && gSource == PictureSource::Live) {
            // Follow the alarm: the first failed camera at or after the one shown.
            for (int k = 0; k < numCamera; ++k) {
                const int c = (camera + k) % numCamera;
                CammerWidget* v = CameraViews::at(c);
                if (v && !v->stepOk) {
                    EditSession::get().setCurrentCamera(c);
                    CycleControl::get().changeCammer();
                    setComboQuietly(cameraCombo, c);
                    break;
                }
            }
            return;
        }
        if (win_->cycle().detectState == DetectState::NgLatched)
            return;
    } else if (camera == numCamera && win_->cycle().detectState == DetectState::NgLatched) {
        return;
    }
    gSource = PictureSource::None;
}

void DrawROIWidget::SlotNoCheckCur()
{
    if (!win_)
        return;
    if (liveWord(Word::NotDetectPassword) != 0 && CheckPassword() == 0)
        return;
    if (!gisSafeDoorOpen && liveWord(Word::SafetyDoorClearsAlarm) != 0) {
        warn(lanStr(195));
        return;
    }
    const int c = EditSession::get().currentCamera();
    if (c >= 0 && c < numCamera && c < kMaxCamera) {
        CammerWidget* v = CameraViews::at(c);
        if (!v)
            return;
        if (v->stepOk && win_->cycle().ngPresent) {
            warn(lanStr(107));
            return;
        }
        if (!ask(lanStr(105).arg(c + 1)))
            return;
        const int running = qBound(0, win_->cycle().runStep, kMaxDetect - 1);
        v->settleStep(running);
        CycleControl::get().clearNg(c, running, AlarmCode::NotDetected);
        Databases::get().InsertRecord(lanStr(106).arg(c + 1), QString());
        SlotReCheck();
        return;
    }
    if (ask(lanStr(102)))
        notCheckcur();
}

void DrawROIWidget::notCheckcur()
{
    if (!win_)
        return;
    SlotSaveData();
    gSource = PictureSource::None;
    CycleControl::get().resetRun();
    const int running = qBound(0, win_->cycle().runStep, kMaxDetect - 1);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        CycleControl::get().clearNg(c, running, AlarmCode::NotDetected);
    CycleControl::get().decideByOperator();
    Databases::get().InsertRecord(lanStr(103), QString());
}

// ---- Opening and leaving ------------------------------------------------------------------

void DrawROIWidget::Reset()
{
    if (!win_)
        return;
    movedAside = false;
    resetPending = true;
    gDrawHint = 0;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (CammerWidget* v = CameraViews::at(c))
            v->revertEdits();
    }

    const int s = qBound(0, win_->cycle().runStep, kMaxDetect - 1);
    int step = s;
    if (win_->cycle().detectState != DetectState::NgLatched) {
        const int m = mode();
        const int e = liveWord(Word::StepEnabled0);
        const int same = liveWord(Word::SameParameters);
        const int k = liveWord(Word::MouldsChecked);
        if (m == DetectMode::Standard) {
            step = e == 0 ? 1 : (same != 0 ? 0 : s);
        } else if (m == DetectMode::MultiStep) {
            step = (s == 0 && e == 0) ? 1 : s;
        } else if (m == DetectMode::TwoColour || m == DetectMode::Turntable) {
            int t = s;
            bool folded = false;
            if (t >= 2 && !(same == 0 && k != CheckedMoulds::Left)) {
                t -= 2;
                folded = true;
            }
            if (k == CheckedMoulds::Right && (folded || t < 2))
                step = e != 0 ? 2 : 3;
            else
                step = (t % 2 == 0 && e == 0) ? t + 1 : t;
            if (step < 0 || step >= gDNum)
                step = 0;
        }
    }
    EditSession::get().setCurrentDetect(qBound(0, step, kMaxDetect - 1));
    setComboQuietly(detectCombo, EditSession::get().currentDetect());

    const int wanted = win_->cycle().detectState == DetectState::NgLatched ? PictureSource::Live : PictureSource::Template;
    if (sourceCombo->currentIndex() == wanted)
        SlotChangeSource(wanted);
    else
        sourceCombo->setCurrentIndex(wanted);
    showHideButton->setChecked(false);
    show();
    raise();
}

void DrawROIWidget::SlotReturn()
{
    if (!win_)
        return;
    if (gpNumPad)
        gpNumPad->HideUpdate();
    if (gpNumCharPad)
        gpNumCharPad->HideUpdate();
    EditSession::get().setDrawMode(RoiShape::None);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        if (!v)
            continue;
        v->tempIndex = 0;
        v->editor()->deselect();
        v->ShowHideROIPara();
        v->HotCameraUpdateROI();
    }
    ScreenChrome::get().ioStatusVisible(true);
    ScreenChrome::get().mScaleSetToMin();
    SlotSaveData();
    if (win_->cycle().detectState == DetectState::NgLatched) {
        sourceCombo->setCurrentIndex(PictureSource::Live);
        return;
    }
    movedAside = false;
    EditSession::get().setCopyArea(false);
    gSource = PictureSource::None;
    ScreenChrome::get().showhideHelp(true);
    Restart();
    if (gFromTrain) {
        gFromTrain = false;
        CycleControl::get().backTrain();
    }
}

void DrawROIWidget::Restart()
{
    if (!win_)
        return;
    CycleControl::get().roiPageClosed();
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        if (CammerWidget* v = CameraViews::at(c))
            v->editor()->deselect();
    ScreenChrome::get().buttonBarCheck();
    ScreenChrome::get().showhideHelp(true);
    hide();
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (CammerWidget* v = CameraViews::at(c)) {
            v->ShowHideROIPara();
            v->update();
        }
    }
}
