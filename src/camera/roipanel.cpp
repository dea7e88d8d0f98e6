#include "roipanel.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "colorbutton.h"
#include "editsession.h"
#include "globals.h"
#include "lanstr.h"
#include "miscfunc.h"
#include "publictools.h"
#include "roifunctions.h"
#include "roishapes.h"
#include "slider.h"
#include "viewutil.h"
#include "wizardpara.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

int gDrawHint = 0;

namespace {
using viewutil::isqrt;

void resetSlider(Slider* s, int min, int max, int value, const QString& label)
{
    const QSignalBlocker block(s);
    s->Reset(min, max, 1, value, label);
}

void startHint(int side)
{
    gDrawHint = side;
    if (QTimer* timer = EditSession::get().sizeHintTimer())
        timer->start(3000);
}

}  // namespace

// ---- Construction -------------------------------------------------------------------

RoiPanel::RoiPanel(QWidget* v, Host h)
    : QObject(v)
    , view(v)
    , host(std::move(h))
{
    // Built in this order so that the widgets stack as they always have.
    sliders[2] = new Slider(0, 10, 1, 25, view);
    connect(sliders[2], &QAbstractSlider::valueChanged, this, &RoiPanel::setP3);
    sliders[0] = new Slider(0, 100, 1, 25, view);
    connect(sliders[0], &QAbstractSlider::valueChanged, this, &RoiPanel::setP1);
    sliders[1] = new Slider(0, 1000, 1, 50, view);
    connect(sliders[1], &QAbstractSlider::valueChanged, this, &RoiPanel::setP2);

    // The button row is narrow: its buttons take the kit's small font.
    funcLabel = new QLabel(lanStr(2), view);
    funcLabel->setStyleSheet(QStringLiteral("color: rgb(0, 255, 0); font-family: wqy-microhei; font-size: 25px;"));
    funcButton = new ColorButton(QString(), view, 3);
    connect(funcButton, &QPushButton::clicked, this, &RoiPanel::changeMethod);
    halfButton = new ColorButton(lanStr(3), view, 3);
    connect(halfButton, &QPushButton::clicked, this, &RoiPanel::togglePair);
    outCombo = new ComboBox(view);
    outCombo->addItems({QStringLiteral("N1"), QStringLiteral("N2"), QStringLiteral("N3"), QStringLiteral("N4")});
    outCombo->setItemHeight(50);
    connect(outCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &RoiPanel::setOutput);
    roiSwitchButton = new ColorButton(lanStr(4), view, 3);
    connect(roiSwitchButton, &QPushButton::clicked, this, &RoiPanel::nextRoi);
    objectButton = new ColorButton(QString(), view, 3);
    connect(objectButton, &QPushButton::clicked, this, &RoiPanel::nextObject);

    for (int k = 0; k < 4; ++k) {
        stepButtons[k] = new ColorButton(QString(), view, 3);
        stepButtons[k]->SetRepeat();
        connect(stepButtons[k], &QPushButton::clicked, this, [this, k] { emit stepPressed(k); });
    }
    syncButton = new ColorButton(tr("同步参数"), view);
    connect(syncButton, &QPushButton::clicked, this, &RoiPanel::syncParameters);
    fineTuneButton = new ColorButton(tr("微调"), view);
    fineTuneButton->setCheckable(true);
    connect(fineTuneButton, &QPushButton::toggled, this, &RoiPanel::setFineTune);

    // Up, down, left, right.
    static const QPoint moves[4] = {QPoint(0, -1), QPoint(0, 1), QPoint(-1, 0), QPoint(1, 0)};
    for (int k = 0; k < 4; ++k) {
        moveButtons[k] = new ColorButton(lanStr(5 + k), view);
        moveButtons[k]->SetRepeat();
        const QPoint d = moves[k];
        connect(moveButtons[k], &QPushButton::clicked, this, [this, d] { emit move(d.x(), d.y()); });
    }
    moveModeButton = new ColorButton(lanStr(12), view);
    connect(moveModeButton, &QPushButton::clicked, this, &RoiPanel::nextMoveMode);

    hideAll();

    previewDue = new QTimer(this);
    previewDue->setSingleShot(true);
    connect(previewDue, &QTimer::timeout, this, &RoiPanel::runPreview);
}

void RoiPanel::hideAll()
{
    for (QWidget* w : std::initializer_list<QWidget*>{sliders[0], sliders[1], sliders[2], funcLabel, funcButton,
                                                      halfButton, outCombo, roiSwitchButton, objectButton, syncButton,
                                                      fineTuneButton, moveModeButton})
        w->hide();
    for (int k = 0; k < 4; ++k) {
        stepButtons[k]->hide();
        moveButtons[k]->hide();
    }
}

int RoiPanel::currentSlot() const
{
    CammerSingleton* rec = host.record ? host.record() : nullptr;
    if (!rec)
        return -1;
    const int g = host.step();
    const int i = host.roi();
    if (i < 0 || i >= std::clamp(rec->roiCount[g], 0, kMaxRoi))
        return -1;
    return g * kMaxRoi + i;
}

// ---- Rebuilding -----------------------------------------------------------------------

bool RoiPanel::rebuild()
{
    const int j = currentSlot();
    if (j < 0) {
        hideAll();
        {
            const QSignalBlocker block(fineTuneButton);
            fineTuneButton->setChecked(false);
        }
        fineTune = false;
        moveModeButton->setText(lanStr(12));
        return false;
    }
    const CammerSingleton& rec = *host.record();
    const int moveMode = host.moveMode();
    showRows(rec, j);
    moveModeButton->setText(lanStr(moveMode == MoveMode::Selected ? 32 : moveMode == MoveMode::All ? 34 : 12));
    // Fixed captions, in the language now in force.
    funcLabel->setText(lanStr(2));
    halfButton->setText(lanStr(3));
    roiSwitchButton->setText(lanStr(4));
    syncButton->setText(tr("同步参数"));
    for (int k = 0; k < 4; ++k)
        moveButtons[k]->setText(lanStr(5 + k));

    place(rec, host.step(), host.roi());

    pairShown = false;
    showValues(rec, j);

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
    halfButton->setVisible(moveMode == MoveMode::None && RoiFunctions::info(rec.method[j]).paired);
    showObjectCaptions(rec.kind[j]);
    return true;
}

// Which rows show: in the move modes only the fine-tuning row.
void RoiPanel::showRows(const CammerSingleton& rec, int j)
{
    if (host.moveMode() != MoveMode::None) {
        for (QWidget* w : std::initializer_list<QWidget*>{sliders[0], sliders[1], sliders[2], funcLabel, funcButton,
                                                          halfButton, roiSwitchButton, objectButton, syncButton,
                                                          outCombo})
            w->hide();
        for (ColorButton* b : stepButtons)
            b->hide();
        return;
    }
    const RoiFunctions::Info& f = RoiFunctions::info(rec.method[j]);
    const bool perRoi = liveWord(Word::RoiLimits) != 0;
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
    if (host.step() == 0 && liveWord(Word::EjectorPulseOnProductNg) != 0) {
        const QSignalBlocker block(outCombo);
        outCombo->setCurrentIndex(std::clamp(rec.outputNo[host.roi()], 0, 3));
        outCombo->show();
    } else {
        outCombo->hide();
    }
}

void RoiPanel::showValues(const CammerSingleton& rec, int j)
{
    const RoiFunctions::Info& f = RoiFunctions::info(rec.method[j]);
    const int values[3] = {rec.p1[j], rec.p2[j], rec.p3[j]};
    for (int k = 0; k < 3; ++k) {
        const RoiFunctions::Slider& sl = f.sliders[k];
        resetSlider(sliders[k], sl.min, sl.max, RoiFunctions::member(sl.packing, values[k], pairShown),
                    (pairShown ? sl.pairCaption : sl.caption).toString());
    }
    funcButton->setText(f.name.toString());
}

void RoiPanel::showObjectCaptions(int kind)
{
    const int object = host.object();
    const bool radius = kind == RoiShape::Circle && (object == 0 || object == 1);
    static const char* const radiusTexts[4] = {"+10", "+1", "-1", "-10"};
    static const char* const pointTexts[4] = {"Y -1", "X -1", "Y +1", "X +1"};
    for (int k = 0; k < 4; ++k)
        stepButtons[k]->setText(tr(radius ? radiusTexts[k] : pointTexts[k]));

    if (kind == RoiShape::Rect)
        objectButton->setText(lanStr(object == 1 ? 29 : 30));
    else if (kind == RoiShape::Circle)
        objectButton->setText(lanStr(object == 0 ? 28 : object == 1 ? 26 : 27));
    else if (kind == RoiShape::Polygon)
        objectButton->setText(lanStr(31).arg(object + 1));
}

// ---- Placing ------------------------------------------------------------------------

// Full-view height where the panel's rows start: above the region when
// there is room, else below it, else over it.
int RoiPanel::panelTop(const CammerSingleton& rec, int g, int roi, int h) const
{
    const float fullY = host.scales().fullY;
    const RoiShapes::Ops* shape = RoiShapes::of(rec, g, roi);
    const QRect img = shape ? shape->imageRect(rec, g, roi) : QRect();
    const int T = static_cast<int>(img.top() * fullY);
    const int B = static_cast<int>((img.bottom() + 1) * fullY);
    const int kind = rec.kind[g * kMaxRoi + roi];
    if (h + 20 < T - 40)
        return T - h - 20;
    if (B + h + 20 < gShowH - 70)
        return B + 20;
    if (kind == RoiShape::Rect)
        return T + 20;
    if (kind == RoiShape::Circle) {
        const Circle& c = rec.circle[g][roi];
        return (h + 20 < c.r) ? c.y - h - 20 : gShowH - 70 - h;
    }
    // The first gap between point heights, from the top, that takes the
    // panel; the panel ends 20 pixels above its lower end.
    QVector<int> ys;
    const RePolygon& poly = rec.polygon[g][roi];
    ys.reserve(poly.pts.size());
    for (const QPoint& q : poly.pts)
        ys.append(q.y());
    std::sort(ys.begin(), ys.end());
    int upper = 0;
    for (int v : qAsConst(ys)) {
        if (v - upper > h + 20)
            return v - h - 20;
        upper = v;
    }
    return gShowH - 70 - h;
}

void RoiPanel::place(const CammerSingleton& rec, int g, int roi)
{
    const int rows = 2 + (sliders[1]->isVisibleTo(view) ? 1 : 0) + (sliders[2]->isVisibleTo(view) ? 1 : 0);
    const int y = panelTop(rec, g, roi, rows * 51);

    // Full-view positions go through the window scale; the rows keep their
    // touch height.
    const Scales s = host.scales();
    const float sx = s.winX > 0.0f ? s.winX : 1.0f;
    const float sy = s.winY > 0.0f ? s.winY : 1.0f;
    auto X = [sx](int v) { return static_cast<int>(std::lround(v * sx)); };
    auto span = [&X](int x1, int x2, int top, int height) { return QRect(X(x1), top, X(x2 + 1) - X(x1), height); };
    int top = static_cast<int>(std::lround(y * sy));
    const int sliderRight = gShowW / 2 + 424;
    bool any = false;
    for (Slider* sl : sliders) {
        if (!sl->isVisibleTo(view))
            continue;
        if (any)
            top += 50;
        sl->setGeometry(span(400, sliderRight, top, 45));
        any = true;
    }
    if (any)
        top += 50;
    // Japanese captions are longer: the pair and ROI buttons are wider.
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

void RoiPanel::changeMethod()
{
    const int j = currentSlot();
    if (j < 0)
        return;
    CammerSingleton& rec = *host.record();
    const int next = RoiFunctions::nextEnabled(rec.method[j]);
    if (next < 0)
        return;   // no method is switched on: the method stays
    RoiFunctions::startSlot(rec, j, next);
    emit reshow();
}

void RoiPanel::togglePair()
{
    const int j = currentSlot();
    if (j < 0)
        return;
    const CammerSingleton& rec = *host.record();
    pairShown = !pairShown;
    // Only a packed parameter has a second member to show.
    const RoiFunctions::Info& f = RoiFunctions::info(rec.method[j]);
    const int values[3] = {rec.p1[j], rec.p2[j], rec.p3[j]};
    for (int k = 0; k < 3; ++k) {
        const RoiFunctions::Slider& sl = f.sliders[k];
        if (sl.packing == RoiFunctions::Packing::Plain)
            continue;
        resetSlider(sliders[k], sl.min, sl.max, RoiFunctions::member(sl.packing, values[k], pairShown),
                    (pairShown ? sl.pairCaption : sl.caption).toString());
    }
    emit changed();
}

// ---- Sliders --------------------------------------------------------------------------

void RoiPanel::requestPreview()
{
    if (!host.canPreview || !host.canPreview())
        return;
    if (previewDue->isActive())
        return;   // one is due already; it reads the newest values
    const qint64 idle = monotonic_ms() - previewEndMs;
    if (idle >= previewCostMs) {
        runPreview();
        return;
    }
    // The last preview was slow: the next one waits as long as it took, so
    // that held buttons and drags never pile work up behind it.
    previewDue->start(static_cast<int>(std::clamp<qint64>(previewCostMs - idle, 1, 2000)));
}

void RoiPanel::runPreview()
{
    if (!host.canPreview || !host.canPreview() || currentSlot() < 0)
        return;
    const qint64 start = monotonic_ms();
    host.preview(host.step(), host.roi());
    previewEndMs = monotonic_ms();
    previewCostMs = previewEndMs - start;
}

void RoiPanel::setP1(int v)
{
    const int j = currentSlot();
    if (j < 0)
        return;
    CammerSingleton& rec = *host.record();
    const RoiFunctions::Packing packing = RoiFunctions::info(rec.method[j]).sliders[0].packing;
    if (packing != RoiFunctions::Packing::Plain) {
        rec.p1[j] = RoiFunctions::withMember(packing, rec.p1[j], pairShown, v);
    } else {
        rec.p1[j] = v;
        if (rec.method[j] == CammerRecong::kGreyBand)
            startHint(isqrt(v));
    }
    requestPreview();
}

void RoiPanel::setP2(int v)
{
    const int j = currentSlot();
    if (j < 0)
        return;
    CammerSingleton& rec = *host.record();
    gDrawHint = 0;
    const RoiFunctions::Packing packing = RoiFunctions::info(rec.method[j]).sliders[1].packing;
    if (packing != RoiFunctions::Packing::Plain) {
        rec.p2[j] = RoiFunctions::withMember(packing, rec.p2[j], pairShown, v);
    } else {
        rec.p2[j] = v;
        startHint(isqrt(v));
    }
    requestPreview();
}

void RoiPanel::setP3(int v)
{
    const int j = currentSlot();
    if (j < 0)
        return;
    CammerSingleton& rec = *host.record();
    const RoiFunctions::Packing packing = RoiFunctions::info(rec.method[j]).sliders[2].packing;
    if (packing != RoiFunctions::Packing::Plain) {
        rec.p3[j] = RoiFunctions::withMember(packing, rec.p3[j], pairShown, v);
    } else {
        rec.p3[j] = v;
        startHint(v);
    }
    requestPreview();
}

void RoiPanel::syncParameters()
{
    const int j = currentSlot();
    if (j < 0)
        return;
    CammerSingleton& rec = *host.record();
    const int g = host.step();
    const int count = std::clamp(rec.roiCount[g], 0, kMaxRoi);
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
    rec.setSelectRoi(EditSession::get().currentDetect(), host.roi());
}

void RoiPanel::setOutput(int index)
{
    CammerSingleton* rec = host.record ? host.record() : nullptr;
    if (!rec || host.step() != 0)
        return;
    const int roi = host.roi();
    if (roi < 0 || roi >= std::clamp(rec->roiCount[0], 0, kMaxRoi))
        return;
    rec->outputNo[roi] = std::clamp(index, 0, 3);
}

void RoiPanel::setFineTune(bool checked)
{
    fineTune = checked;
    emit reshow();
}
