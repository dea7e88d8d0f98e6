// The ROI parameter panel of a camera view: three sliders for p1-p3, the
// method button, the ROI and object switches, the step buttons, the sync
// button, the output selector and the fine-tuning row.
// What each function's sliders show and how they write its packed
// parameters comes from its entry in RoiFunctions.
//
// Rebuilding the panel only shows values: the sliders' signals are blocked
// while they are reset, so looking at an ROI never changes its parameters,
// even where a stored value lies outside a slider's range.
#include "cammerwidget.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "colorbutton.h"
#include "editsession.h"
#include "globals.h"
#include "lanstr.h"
#include "miscfunc.h"
#include "publictools.h"
#include "roifunctions.h"
#include "winstate.h"
#include "slider.h"
#include "viewutil.h"
#include "wizardpara.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>

int gDrawHint = 0;

namespace {
using viewutil::isqrt;
using viewutil::greyTable;

int word(int n)
{
    return (gpWPara && n >= 0 && n < kParaWords) ? gpWPara->words[n] : 0;
}

// Plain addition without leaving the int range.
int addPlain(int p, int d)
{
    return static_cast<int>(std::clamp<long long>(static_cast<long long>(p) + d, INT_MIN, INT_MAX));
}

}  // namespace

// ---- Methods --------------------------------------------------------------------

bool CammerWidget::methodEnabled(int method)
{
    return RoiFunctions::enabled(method);
}

bool CammerWidget::GetFuncInitParam(int method, int& p1, int& p2, int& p3)
{
    return RoiFunctions::startParameters(method, p1, p2, p3);
}

// ---- Construction -------------------------------------------------------------------

void CammerWidget::BuildRoiPanel()
{
    p3Slider = new Slider(0, 10, 1, 25, this);
    connect(p3Slider, &QAbstractSlider::valueChanged, this, &CammerWidget::SlotMinWH);
    p1Slider = new Slider(0, 100, 1, 25, this);
    connect(p1Slider, &QAbstractSlider::valueChanged, this, &CammerWidget::SlotSensitivity);
    p2Slider = new Slider(0, 1000, 1, 50, this);
    connect(p2Slider, &QAbstractSlider::valueChanged, this, &CammerWidget::SlotArea);

    // The button row is narrow: its buttons take the kit's small font.
    funcLabel = new QLabel(lanStr(2), this);
    funcLabel->setStyleSheet(QStringLiteral("color: rgb(0, 255, 0); font-family: wqy-microhei; font-size: 25px;"));
    funcButton = new ColorButton(QString(), this, 3);
    connect(funcButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeFunc);
    halfButton = new ColorButton(lanStr(3), this, 3);
    connect(halfButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeParaShow);
    outCombo = new ComboBox(this);
    outCombo->addItems({QStringLiteral("N1"), QStringLiteral("N2"), QStringLiteral("N3"), QStringLiteral("N4")});
    outCombo->setItemHeight(50);
    connect(outCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &CammerWidget::SlotOutN);
    roiSwitchButton = new ColorButton(lanStr(4), this, 3);
    connect(roiSwitchButton, &QPushButton::clicked, this, &CammerWidget::SlotNextROI);
    objectButton = new ColorButton(QString(), this, 3);
    connect(objectButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeObject);

    void (CammerWidget::*stepSlots[4])() = {&CammerWidget::SlotAdd10, &CammerWidget::SlotAdd1,
                                            &CammerWidget::SlotSub1, &CammerWidget::SlotSub10};
    for (int k = 0; k < 4; ++k) {
        stepButtons[k] = new ColorButton(QString(), this, 3);
        stepButtons[k]->SetRepeat();
        connect(stepButtons[k], &QPushButton::clicked, this, stepSlots[k]);
    }
    syncButton = new ColorButton(tr("同步参数"), this);
    connect(syncButton, &QPushButton::clicked, this, &CammerWidget::SlotSyncParam);
    fineTuneButton = new ColorButton(tr("微调"), this);
    fineTuneButton->setCheckable(true);
    connect(fineTuneButton, &QPushButton::toggled, this, &CammerWidget::SlotFineTune);

    void (CammerWidget::*moveSlots[4])() = {&CammerWidget::SlotMoveT, &CammerWidget::SlotMoveB,
                                            &CammerWidget::SlotMoveL, &CammerWidget::SlotMoveR};
    for (int k = 0; k < 4; ++k) {
        moveButtons[k] = new ColorButton(lanStr(5 + k), this);
        moveButtons[k]->SetRepeat();
        connect(moveButtons[k], &QPushButton::clicked, this, moveSlots[k]);
    }
    moveModeButton = new ColorButton(lanStr(12), this);
    connect(moveModeButton, &QPushButton::clicked, this, &CammerWidget::SlotMoveAll);

    for (QWidget* w : std::initializer_list<QWidget*>{p1Slider, p2Slider, p3Slider, funcLabel, funcButton, halfButton,
                                                      outCombo, roiSwitchButton, objectButton, syncButton,
                                                      fineTuneButton, moveModeButton})
        w->hide();
    for (int k = 0; k < 4; ++k) {
        stepButtons[k]->hide();
        moveButtons[k]->hide();
    }

    previewTimer = new QTimer(this);
    previewTimer->setSingleShot(true);
    connect(previewTimer, &QTimer::timeout, this, &CammerWidget::RunPreview);
}

// ---- Rebuilding -----------------------------------------------------------------------

void CammerWidget::ResetSlider(Slider* s, int min, int max, int value, const QString& label)
{
    const QSignalBlocker block(s);
    s->Reset(min, max, 1, value, label);
}

void CammerWidget::ShowHideROIPara()
{
    previewShown = false;
    if (!p1Slider) {
        update();
        return;
    }
    const int g = editStep();
    const bool current = editRecord && curRoi >= 0 && curRoi < std::clamp(editRecord->roiCount[g], 0, kMaxRoi);
    if (!current) {
        for (QWidget* w : std::initializer_list<QWidget*>{p1Slider, p2Slider, p3Slider, funcLabel, funcButton,
                                                          halfButton, outCombo, roiSwitchButton, objectButton,
                                                          syncButton, fineTuneButton, moveModeButton})
            w->hide();
        for (int k = 0; k < 4; ++k) {
            stepButtons[k]->hide();
            moveButtons[k]->hide();
        }
        {
            const QSignalBlocker block(fineTuneButton);
            fineTuneButton->setChecked(false);
        }
        fineTune = false;
        moveMode = MoveMode::None;
        objectIndex = 0;
        moveModeButton->setText(lanStr(12));
        update();
        return;
    }

    const CammerSingleton& rec = *editRecord;
    const int j = g * kMaxRoi + curRoi;
    const RoiFunctions::Info& f = RoiFunctions::info(rec.method[j]);
    const bool perRoi = word(Word::RoiLimits) != 0;

    if (moveMode != MoveMode::None) {
        for (QWidget* w : std::initializer_list<QWidget*>{p1Slider, p2Slider, p3Slider, funcLabel, funcButton,
                                                          halfButton, roiSwitchButton, objectButton, syncButton,
                                                          outCombo})
            w->hide();
        for (ColorButton* b : stepButtons)
            b->hide();
    } else {
        Slider* sliders[3] = {p1Slider, p2Slider, p3Slider};
        for (int k = 0; k < 3; ++k) {
            const RoiFunctions::Shown when = f.sliders[k].shown;
            sliders[k]->setVisible(when == RoiFunctions::Shown::Always ||
                                   (when == RoiFunctions::Shown::WithRoiLimits && perRoi));
        }
        // The method button shows only when a function besides the grey
        // template is offered.
        bool otherMethods = false;
        for (int other = 0; other < RoiFunctions::kCount; ++other)
            otherMethods = otherMethods || (other != CammerRecong::kGreyTemplate && RoiFunctions::enabled(other));
        funcLabel->setVisible(otherMethods);
        funcButton->setVisible(otherMethods);
        objectButton->show();
        for (ColorButton* b : stepButtons)
            b->show();
        roiSwitchButton->show();
        syncButton->show();
        if (g == 0 && word(Word::EjectorPulseOnProductNg) != 0) {
            const QSignalBlocker block(outCombo);
            outCombo->setCurrentIndex(std::clamp(rec.outputNo[curRoi], 0, 3));
            outCombo->show();
        } else {
            outCombo->hide();
        }
    }
    moveModeButton->setText(lanStr(moveMode == MoveMode::Selected ? 32 : moveMode == MoveMode::All ? 34 : 12));
    // Fixed captions, in the language now in force.
    funcLabel->setText(lanStr(2));
    halfButton->setText(lanStr(3));
    roiSwitchButton->setText(lanStr(4));
    syncButton->setText(tr("同步参数"));
    for (int k = 0; k < 4; ++k)
        moveButtons[k]->setText(lanStr(5 + k));

    PlacePanel();

    halfShown = false;
    {
        Slider* sliders[3] = {p1Slider, p2Slider, p3Slider};
        const int values[3] = {rec.p1[j], rec.p2[j], rec.p3[j]};
        for (int k = 0; k < 3; ++k) {
            const RoiFunctions::Slider& sl = f.sliders[k];
            ResetSlider(sliders[k], sl.min, sl.max, RoiFunctions::member(sl.packing, values[k], false),
                        sl.caption.toString());
        }
        funcButton->setText(f.name.toString());
    }

    fineTuneButton->show();
    {
        const QSignalBlocker block(fineTuneButton);
        fineTuneButton->setChecked(fineTune);
    }
    fineTuneButton->setText(fineTune ? tr("隐藏") : tr("微调"));
    for (ColorButton* b : moveButtons)
        b->setVisible(fineTune);
    moveModeButton->setVisible(fineTune);
    // The pair switch belongs to the sliders: it goes with them in the
    // move modes.
    halfButton->setVisible(moveMode == MoveMode::None && f.paired);

    const int kind = rec.kind[j];
    const bool radius = kind == RoiShape::Circle && (objectIndex == 0 || objectIndex == 1);
    static const char* const radiusTexts[4] = {"+10", "+1", "-1", "-10"};
    static const char* const pointTexts[4] = {"Y -1", "X -1", "Y +1", "X +1"};
    for (int k = 0; k < 4; ++k)
        stepButtons[k]->setText(tr(radius ? radiusTexts[k] : pointTexts[k]));

    if (kind == RoiShape::Rect)
        objectButton->setText(lanStr(objectIndex == 1 ? 29 : 30));
    else if (kind == RoiShape::Circle)
        objectButton->setText(lanStr(objectIndex == 0 ? 28 : objectIndex == 1 ? 26 : 27));
    else if (kind == RoiShape::Polygon)
        objectButton->setText(lanStr(31).arg(objectIndex + 1));
    update();
}

void CammerWidget::PlacePanel()
{
    const int g = editStep();
    const CammerSingleton& rec = *editRecord;
    const int j = g * kMaxRoi + curRoi;
    const int rows = 2 + (p2Slider->isVisibleTo(this) ? 1 : 0) + (p3Slider->isVisibleTo(this) ? 1 : 0);
    const int h = rows * 51;
    const QRect img = roiImageRect(rec, g, curRoi);
    const int T = static_cast<int>(img.top() * fullScaleY);
    const int B = static_cast<int>((img.bottom() + 1) * fullScaleY);
    int y = 0;
    if (h + 20 < T - 40) {
        y = T - h - 20;
    } else if (B + h + 20 < gShowH - 70) {
        y = B + 20;
    } else if (rec.kind[j] == RoiShape::Rect) {
        y = T + 20;
    } else if (rec.kind[j] == RoiShape::Circle) {
        const Circle& c = rec.circle[g][curRoi];
        y = (h + 20 < c.r) ? c.y - h - 20 : gShowH - 70 - h;
    } else {
        // The first gap between point heights, from the top, that takes the
        // panel; the panel ends 20 pixels above its lower end.
        QVector<int> ys;
        const RePolygon& poly = rec.polygon[g][curRoi];
        ys.reserve(poly.pts.size());
        for (const QPoint& q : poly.pts)
            ys.append(q.y());
        std::sort(ys.begin(), ys.end());
        y = gShowH - 70 - h;
        int upper = 0;
        for (int v : qAsConst(ys)) {
            if (v - upper > h + 20) {
                y = v - h - 20;
                break;
            }
            upper = v;
        }
    }

    // Full-view positions go through the window scale; the rows keep their
    // touch height.
    const float sx = winSW > 0.0f ? winSW : 1.0f;
    const float sy = winSH > 0.0f ? winSH : 1.0f;
    auto X = [sx](int v) { return static_cast<int>(std::lround(v * sx)); };
    auto span = [&X](int x1, int x2, int top, int height) { return QRect(X(x1), top, X(x2 + 1) - X(x1), height); };
    int top = static_cast<int>(std::lround(y * sy));
    const int sliderRight = gShowW / 2 + 424;
    bool any = false;
    for (Slider* s : {p1Slider, p2Slider, p3Slider}) {
        if (!s->isVisibleTo(this))
            continue;
        if (any)
            top += 50;
        s->setGeometry(span(400, sliderRight, top, 45));
        any = true;
    }
    if (any)
        top += 50;
    const bool japanese = gLan == kLanJapanese;
    funcLabel->setGeometry(span(400, 479, top, 45));
    funcButton->setGeometry(span(483, 602, top, 45));
    if (!japanese) {
        halfButton->setGeometry(span(606, 725, top, 45));
        outCombo->setGeometry(span(729, 793, top, 45));
        roiSwitchButton->setGeometry(span(797, 916, top, 45));
        objectButton->setGeometry(span(920, 1009, top, 45));
        const int xs[4] = {1013, 1106, 1199, 1292};
        for (int k = 0; k < 4; ++k)
            stepButtons[k]->setGeometry(span(xs[k], xs[k] + 89, top, 45));
    } else {
        halfButton->setGeometry(span(606, 785, top, 45));
        outCombo->setGeometry(span(789, 853, top, 45));
        roiSwitchButton->setGeometry(span(857, 1036, top, 45));
        objectButton->setGeometry(span(1040, 1129, top, 45));
        const int xs[4] = {1133, 1226, 1319, 1412};
        for (int k = 0; k < 4; ++k)
            stepButtons[k]->setGeometry(span(xs[k], xs[k] + 89, top, 45));
    }
    const int rowTop = static_cast<int>(std::lround((gShowH - 80) * sy));
    const int rowHeight = std::max(20, static_cast<int>(std::lround((gShowH - 6) * sy)) - rowTop + 1);
    syncButton->setGeometry(span(350, 529, rowTop, rowHeight));
    fineTuneButton->setGeometry(span(540, 649, rowTop, rowHeight));
    const int mx[4] = {660, 830, 1000, 1170};
    for (int k = 0; k < 4; ++k)
        moveButtons[k]->setGeometry(span(mx[k], mx[k] + 159, rowTop, rowHeight));
    moveModeButton->setGeometry(span(1340, 1519, rowTop, rowHeight));
}

// ---- Method and pairs ----------------------------------------------------------------

void CammerWidget::SlotChangeFunc()
{
    if (!editRecord)
        return;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[g], 0, kMaxRoi))
        return;
    CammerSingleton& rec = *editRecord;
    const int j = g * kMaxRoi + curRoi;
    const int next = RoiFunctions::nextEnabled(rec.method[j]);
    if (next < 0)
        return;   // no method is switched on: the method stays
    int a = 0, b = 0, c = 0;
    GetFuncInitParam(next, a, b, c);
    rec.method[j] = next;
    rec.p1[j] = a;
    rec.p2[j] = b;
    rec.p3[j] = c;
    ShowHideROIPara();
    halfShown = false;
}

void CammerWidget::SlotChangeParaShow()
{
    if (!editRecord)
        return;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[g], 0, kMaxRoi))
        return;
    const CammerSingleton& rec = *editRecord;
    const int j = g * kMaxRoi + curRoi;
    halfShown = !halfShown;
    // Only a packed parameter has a second member to show.
    const RoiFunctions::Info& f = RoiFunctions::info(rec.method[j]);
    Slider* sliders[3] = {p1Slider, p2Slider, p3Slider};
    const int values[3] = {rec.p1[j], rec.p2[j], rec.p3[j]};
    for (int k = 0; k < 3; ++k) {
        const RoiFunctions::Slider& sl = f.sliders[k];
        if (sl.packing == RoiFunctions::Packing::Plain)
            continue;
        ResetSlider(sliders[k], sl.min, sl.max, RoiFunctions::member(sl.packing, values[k], halfShown),
                    (halfShown ? sl.pairCaption : sl.caption).toString());
    }
    update();
}

// ---- Sliders --------------------------------------------------------------------------

void CammerWidget::RequestPreview()
{
    if (!engine || !previewTimer)
        return;
    if (previewTimer->isActive())
        return;   // one is due already; it reads the newest values
    const qint64 idle = monotonic_ms() - previewEndMs;
    if (idle >= previewCostMs) {
        RunPreview();
        return;
    }
    // The last preview was slow: the next one waits as long as it took, so
    // that held buttons and drags never pile work up behind it.
    previewTimer->start(static_cast<int>(std::clamp<qint64>(previewCostMs - idle, 1, 2000)));
}

void CammerWidget::RunPreview()
{
    if (!engine || !editRecord)
        return;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[g], 0, kMaxRoi))
        return;
    const qint64 start = monotonic_ms();
    engine->RunTest(g, curRoi);
    previewEndMs = monotonic_ms();
    previewCostMs = previewEndMs - start;
}

namespace {
void startHint(int side)
{
    gDrawHint = side;
    if (QTimer* timer = EditSession::get().sizeHintTimer())
        timer->start(3000);
}
}  // namespace

void CammerWidget::SlotSensitivity(int v)
{
    if (!editRecord)
        return;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[g], 0, kMaxRoi))
        return;
    CammerSingleton& rec = *editRecord;
    const int j = g * kMaxRoi + curRoi;
    const RoiFunctions::Packing packing = RoiFunctions::info(rec.method[j]).sliders[0].packing;
    if (packing != RoiFunctions::Packing::Plain) {
        rec.p1[j] = RoiFunctions::withMember(packing, rec.p1[j], halfShown, v);
    } else {
        rec.p1[j] = v;
        if (rec.method[j] == CammerRecong::kGreyBand)
            startHint(isqrt(v));
    }
    RequestPreview();
}

void CammerWidget::SlotArea(int v)
{
    if (!editRecord)
        return;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[g], 0, kMaxRoi))
        return;
    CammerSingleton& rec = *editRecord;
    const int j = g * kMaxRoi + curRoi;
    gDrawHint = 0;
    const RoiFunctions::Packing packing = RoiFunctions::info(rec.method[j]).sliders[1].packing;
    if (packing != RoiFunctions::Packing::Plain) {
        rec.p2[j] = RoiFunctions::withMember(packing, rec.p2[j], halfShown, v);
    } else {
        rec.p2[j] = v;
        startHint(isqrt(v));
    }
    RequestPreview();
}

void CammerWidget::SlotMinWH(int v)
{
    if (!editRecord)
        return;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[g], 0, kMaxRoi))
        return;
    CammerSingleton& rec = *editRecord;
    const int j = g * kMaxRoi + curRoi;
    const RoiFunctions::Packing packing = RoiFunctions::info(rec.method[j]).sliders[2].packing;
    if (packing != RoiFunctions::Packing::Plain) {
        rec.p3[j] = RoiFunctions::withMember(packing, rec.p3[j], halfShown, v);
    } else {
        rec.p3[j] = v;
        startHint(v);
    }
    RequestPreview();
}

void CammerWidget::SlotSyncParam()
{
    if (!editRecord)
        return;
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    const int count = std::clamp(rec.roiCount[g], 0, kMaxRoi);
    if (curRoi < 0 || curRoi >= count)
        return;
    const int j = g * kMaxRoi + curRoi;
    const int m = rec.method[j];
    const RoiFunctions::Info& f = RoiFunctions::info(m);
    for (int i = 0; i < count; ++i) {
        const int k = g * kMaxRoi + i;
        if (i == rec.selRoi || rec.method[k] != m)
            continue;
        // Packed members each carry their own difference and stay within
        // their own range: a change of one never spills into its neighbour.
        rec.p1[k] = RoiFunctions::addDifference(f.sliders[0].packing, rec.p1[k], rec.p1[j], rec.selP1);
        rec.p2[k] = RoiFunctions::addDifference(f.sliders[1].packing, rec.p2[k], rec.p2[j], rec.selP2);
        rec.p3[k] = RoiFunctions::addDifference(f.sliders[2].packing, rec.p3[k], rec.p3[j], rec.selP3);
    }
    rec.setSelectRoi(EditSession::get().currentDetect(), curRoi);
}

void CammerWidget::SlotOutN(int index)
{
    if (!editRecord || editStep() != 0)
        return;
    if (curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[0], 0, kMaxRoi))
        return;
    editRecord->outputNo[curRoi] = std::clamp(index, 0, 3);
}

void CammerWidget::SlotFineTune(bool checked)
{
    fineTune = checked;
    ShowHideROIPara();
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
