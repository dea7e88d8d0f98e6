#include "support_roiview.h"

#include "cameramanager.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "globals.h"
#include "lanstr.h"
#include "statewindow.h"
#include "wizardpara.h"

#include <QDir>
#include <QPainter>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <cstring>

namespace roitest {

bool PictureCamera::getImage(uchar* out)
{
    const int bpp = gisColor ? 4 : 1;
    if (bpp == 1) {
        std::memset(out, grey, size_t(w_) * h_);
    } else {
        auto* px = reinterpret_cast<quint32*>(out);
        std::fill(px, px + size_t(w_) * h_, 0xff000000u | (grey * 0x010101u));
    }
    return true;
}

namespace {
std::function<void(const QString&)> savedWarn;
std::function<bool(const QString&)> savedChoose;
std::function<qint64()> savedClock;
}  // namespace

ViewEnv::ViewEnv(const Options& o)
{
    gShowW = o.showW;
    gShowH = o.showH;
    gDNum = o.steps;
    gTempNum = 2;
    gisColor = o.colour ? 1 : 0;
    gSource = 0;
    gLan = 1;
    numCamera = 1;
    if (initLanStr() == 0) {
        for (int r = 0; r < kLanRows; ++r)
            for (int l = 0; l < kLanCols; ++l)
                gaLanStr[r][l] = QStringLiteral("R%1").arg(r);
    }
    for (int g = 0; g < o.steps; ++g)
        QDir().mkpath(QStringLiteral("cammer1%1").arg(g + 1));
    gpWPara = new WizardPara;
    // Every step is judged (only such a step holds buffers); what the engine
    // trains at construction is dropped below, unless the test asks for it.
    for (int k = 0; k < 8; ++k)
        gpWPara->words[86 + k] = k < o.steps ? 1 : 0;
    gpWPara->words[WizardPara::kMode] = 0;

    savedWarn = CammerWidget::warnBox;
    savedChoose = CammerWidget::chooseBox;
    savedClock = CammerWidget::clock;
    CammerWidget::warnBox = [this](const QString& t) { warnings << t; };
    CammerWidget::chooseBox = [this](const QString& t) {
        questions << t;
        return answers.isEmpty() ? false : answers.takeFirst();
    };
    CammerWidget::clock = [this] { return now; };
    CammerWidget::resetDoubleClick();

    RoiPageLink link;
    link.startDrawPloygn = [this] { ++startPolygonCalls; };
    link.drawPloygn = [this] {
        ++endCalls[2];
        const bool underWay = view->polygonActive;
        view->SavePolygon();
        if (underWay) {
            view->polygonActive = false;
            view->editAction = 0;
            win->drawMode = 2;
        } else {
            win->drawMode = 0;
        }
    };
    link.drawHand = [this] {
        ++endCalls[3];
        win->drawMode = 0;
    };
    link.drawRect = [this] {
        ++endCalls[1];
        win->drawMode = 0;
    };
    link.drawCircle = [this] {
        ++endCalls[4];
        win->drawMode = 0;
    };
    CammerWidget::setPageLink(link);

    win = new StateWindow;
    gpState = win;
    win->resize(o.showW, o.showH);
    plugin = new PicturePlugin(o.camW, o.camH);
    CameraManager::getInstance()->interfaces.append(plugin);
    _cameraInfo info;
    info.pluginName = plugin->name();
    setCameraSerial(info, QStringLiteral("ROI00001"));
    view = new CammerWidget(win, 0, info);
    if (view->engine) {
        for (int g = 0; g < o.steps; ++g)
            view->engine->ForgetStep(g);
    }
    win->cammerWidget[0] = view;
    win->currentCamera = 0;
    view->setGeometry(0, 0, o.showW, o.showH);
    view->show();
    win->show();
    if (!QTest::qWaitForWindowExposed(win))
        qWarning("ViewEnv: the window was not exposed");
    if (view->UpdateImage())
        std::memcpy(view->displayFrame, view->captureFrame, size_t(view->frameBytes));
    view->DisplayChanged();
    if (o.train && view->engine) {
        for (int g = 0; g < o.steps; ++g)
            view->engine->VarTrain(g);
    }
}

ViewEnv::~ViewEnv()
{
    delete win;
    gpState = nullptr;
    QVector<CameraInterface*>& ifs = CameraManager::getInstance()->interfaces;
    ifs.removeAll(plugin);
    delete plugin;
    delete gpWPara;
    gpWPara = nullptr;
    CammerWidget::warnBox = savedWarn;
    CammerWidget::chooseBox = savedChoose;
    CammerWidget::clock = savedClock;
    CammerWidget::setPageLink(RoiPageLink());
    CammerWidget::resetDoubleClick();
    gSource = -1;
    numCamera = 0;
    gisColor = 0;
}

int& ViewEnv::word(int n)
{
    return gpWPara->words[n];
}

CammerSingleton& ViewEnv::edit()
{
    return *view->editRecord;
}

CammerSingleton& ViewEnv::saved()
{
    return *view->savedRecord;
}

int ViewEnv::count(int step)
{
    return view->editRecord->roiCount[step];
}

static QPoint toWindow(CammerWidget* v, QPoint p)
{
    return v->mapTo(v->window(), p);
}

void ViewEnv::press(QPoint p, qint64 gapMs)
{
    now += gapMs;
    QTest::mousePress(win->windowHandle(), Qt::LeftButton, Qt::NoModifier, toWindow(view, p));
}

void ViewEnv::move(QPoint p)
{
    QTest::mouseMove(win->windowHandle(), toWindow(view, p));
}

void ViewEnv::release(QPoint p)
{
    QTest::mouseRelease(win->windowHandle(), Qt::LeftButton, Qt::NoModifier, toWindow(view, p));
}

void ViewEnv::tap(QPoint p, qint64 gapMs)
{
    press(p, gapMs);
    release(p);
}

void ViewEnv::drag(QPoint a, QPoint b, int steps)
{
    press(a);
    for (int k = 1; k <= steps; ++k)
        move(a + (b - a) * k / steps);
    release(b);
}

int ViewEnv::addRect(int step, QRect r, int method, int p1, int p2, int p3)
{
    CammerSingleton& rec = edit();
    const int i = rec.roiCount[step];
    const int j = step * kMaxRoi + i;
    rec.rect[step][i] = ClustomRect();
    rec.rect[step][i].rect = r;
    rec.kind[j] = 1;
    rec.method[j] = method;
    rec.p1[j] = p1;
    rec.p2[j] = p2;
    rec.p3[j] = p3;
    rec.roiCount[step] = i + 1;
    view->RenewRoi(step, i);
    return i;
}

int ViewEnv::addPolygon(int step, const QVector<QPoint>& pts, int method)
{
    CammerSingleton& rec = edit();
    const int i = rec.roiCount[step];
    const int j = step * kMaxRoi + i;
    rec.polygon[step][i] = RePolygon();
    rec.polygon[step][i].setPoints(pts);
    rec.kind[j] = 2;
    rec.method[j] = method;
    rec.p1[j] = 45;
    rec.p2[j] = 100;
    rec.p3[j] = 3;
    rec.roiCount[step] = i + 1;
    view->RenewRoi(step, i);
    return i;
}

int ViewEnv::addCircle(int step, QPoint centre, int r, int method)
{
    CammerSingleton& rec = edit();
    const int i = rec.roiCount[step];
    const int j = step * kMaxRoi + i;
    Circle& c = rec.circle[step][i];
    c = Circle();
    c.x = centre.x();
    c.y = centre.y();
    c.r = r;
    c.UpdateRect();
    rec.kind[j] = 4;
    rec.method[j] = method;
    rec.p1[j] = 45;
    rec.p2[j] = 100;
    rec.p3[j] = 3;
    rec.roiCount[step] = i + 1;
    view->RenewRoi(step, i);
    return i;
}

QImage ViewEnv::paint()
{
    QImage img(view->size(), QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    view->PaintView(p);
    return img;
}

QString checkInvariants(const CammerWidget& v, int step)
{
    const CammerSingleton& rec = *v.editRecord;
    const int count = rec.roiCount[step];
    if (count < 0 || count > kMaxRoi)
        return QStringLiteral("ROI count %1").arg(count);
    if (v.polyPointCount < 0 || v.polyPointCount > CammerWidget::kMaxPolyPoints)
        return QStringLiteral("polygon point count %1").arg(v.polyPointCount);
    if (v.curRoi < -1 || v.curRoi >= count)
        return QStringLiteral("current ROI %1 of %2").arg(v.curRoi).arg(count);
    auto inside = [](QPoint p) { return p.x() >= 3 && p.y() >= 3 && p.x() <= gShowW - 3 && p.y() <= gShowH - 3; };
    for (int i = 0; i < count; ++i) {
        const int j = step * kMaxRoi + i;
        QRect img;
        bool selected = false;
        switch (rec.kind[j]) {
        case 1: {
            const ClustomRect& r = rec.rect[step][i];
            if (!inside(r.rect.topLeft()) || !inside(r.rect.bottomRight()))
                return QStringLiteral("rectangle %1 at %2,%3-%4,%5 leaves the view")
                    .arg(i).arg(r.rect.left()).arg(r.rect.top()).arg(r.rect.right()).arg(r.rect.bottom());
            img = r.imgRect;
            selected = r.IsSelected();
            break;
        }
        case 2: {
            const RePolygon& poly = rec.polygon[step][i];
            if (poly.count() < 3 || poly.count() > 8095)
                return QStringLiteral("polygon %1 has %2 points").arg(i).arg(poly.count());
            for (const QPoint& q : poly.pts)
                if (!inside(q))
                    return QStringLiteral("polygon %1 point %2,%3 leaves the view").arg(i).arg(q.x()).arg(q.y());
            img = poly.imgRect;
            selected = poly.IsSelected();
            break;
        }
        case 4: {
            const Circle& c = rec.circle[step][i];
            if (!inside(c.rect.topLeft()) || !inside(c.rect.bottomRight()))
                return QStringLiteral("circle %1 at %2,%3 r %4 leaves the view").arg(i).arg(c.x).arg(c.y).arg(c.r);
            img = c.imgRect;
            selected = c.IsSelected();
            break;
        }
        default:
            return QStringLiteral("ROI %1 has kind %2").arg(i).arg(rec.kind[j]);
        }
        const cv::Mat& m = v.editMasks[step][i];
        const int w = std::max(0, img.width());
        const int h = std::max(0, img.height());
        const bool sizeOk = m.empty() ? (w == 0 || h == 0) : (m.cols == w && m.rows == h);
        if (!sizeOk)
            return QStringLiteral("mask of ROI %1 is %2x%3, picture rectangle %4x%5")
                .arg(i).arg(m.cols).arg(m.rows).arg(w).arg(h);
        if (selected && i != v.curRoi)
            return QStringLiteral("ROI %1 is selected but the current ROI is %2").arg(i).arg(v.curRoi);
    }
    return QString();
}

}  // namespace roitest
