// The ROI gallery: one 1920 x 1080 camera view over a synthetic mould
// picture, in the template view with ROIs of every kind being edited, with
// the parameter panel of every method, and in the live view after an NG and
// an OK; writes <out>/<language>_<scene>.png (zh, en, tw, ja).
//   roigallery [<out> [<language 0-3> | <PARAM.db>]]
// With a PARAM.db the language is the one it holds (the language word of
// "system2"); without a language every one is rendered, each in a run of
// its own, as widgets take their texts and fonts when they are built.
#include "cameraviews.h"
#include "cameramanager.h"
#include "productioncounters.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "roifunctions.h"
#include "colorbutton.h"
#include "editsession.h"
#include "globals.h"
#include "lanstr.h"
#include "publictools_widget.h"
#include "rivurevezi.h"
#include "screencheck.h"
#include "wizardpara.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QPainter>
#include <QElapsedTimer>
#include <QThread>
#include <QWindow>

#include <cmath>

#include <cstdio>
#include <cstring>

namespace {

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

constexpr int kW = 1280;
constexpr int kH = 1024;

// A grey mould: a dark plate with bright cavities and a few spots.
QImage mouldPicture()
{
    QImage img(kW, kH, QImage::Format_Grayscale8);
    QPainter p(&img);
    QLinearGradient g(0, 0, kW, kH);
    g.setColorAt(0, QColor(60, 60, 60));
    g.setColorAt(1, QColor(95, 95, 95));
    p.fillRect(img.rect(), g);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 190, 190));
    p.drawRoundedRect(QRect(140, 160, 300, 220), 30, 30);
    p.drawEllipse(QPoint(820, 300), 160, 160);
    p.drawRect(QRect(160, 600, 420, 260));
    p.setBrush(QColor(150, 150, 150));
    p.drawEllipse(QPoint(950, 760), 150, 110);
    p.setBrush(QColor(30, 30, 30));
    for (int k = 0; k < 12; ++k)
        p.drawEllipse(QPoint(200 + 80 * k, 520), 6, 6);
    return img;
}

class GalleryCamera : public CameraInterface {
public:
    bool open() override { return true; }
    int kind() override { return 0; }
    // The frame rate the header shows.
    void getFps(int* fps) override
    {
        if (fps)
            *fps = 12;
    }
    void getSize(int* w, int* h) override
    {
        *w = kW;
        *h = kH;
    }
    bool getImage(uchar* out) override
    {
        static const QImage pic = mouldPicture();
        for (int y = 0; y < kH; ++y)
            std::memcpy(out + size_t(y) * kW, pic.constScanLine(y), kW);
        return true;
    }
};

class GalleryPlugin : public CameraInterface {
public:
    QString name() override { return QStringLiteral("gallery"); }
    CameraInterface* createCamera(_cameraInfo) override { return new GalleryCamera; }
};

// The language word of the PARAM.db at `path`.
bool languageFromParamDb(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "roigallery: %s does not exist\n", qPrintable(path));
        return false;
    }
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("gallery"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            WizardPara para;
            ok = para.LoadRows(db, q);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("gallery"));
    if (!ok || gLan < 0 || gLan > 3) {
        std::fprintf(stderr, "roigallery: no language in %s\n", qPrintable(path));
        return false;
    }
    return true;
}

void loadSkin()
{
    auto load = [](const char* file) { return new QPixmap(kitPixmap(QString::fromLatin1(file))); };
    gpPixmapEdit = load("edit.png");
    gpPixmapSlideru = load("slideru.png");
    gpPixmapSliderd = load("sliderd.png");
    gpPixmapSlidert = load("slidert.png");
}

struct Gallery {
    QString out;
    RiVuRevezi* win = nullptr;
    CammerWidget* view = nullptr;

    void save(const QString& name)
    {
        view->update();
        settle(100);
        static const char* const kNames[] = {"zh", "en", "tw", "ja"};
        const QString file = QStringLiteral("%1/%2_%3.png").arg(out).arg(kNames[qBound(0, gLan, 3)], name);
        if (!win->grab().save(file))
            std::fprintf(stderr, "roigallery: %s not written\n", qPrintable(file));
        // What the picture shows wrong, for the person who looks at it.
        for (const QString& fault : ScreenCheck::faults(win, QPoint(), QRect(0, 0, gShowW, gShowH)))
            std::fprintf(stderr, "roigallery: %s: %s\n", qPrintable(QFileInfo(file).fileName()), qPrintable(fault));
        QVector<ScreenCheck::Painted> labels;
        for (const CammerWidget::DrawnLabel& l : view->drawnLabels())
            labels.append({l.plate, l.pixels, l.text});
        for (const QString& fault : ScreenCheck::paintedFaults(labels, view->rect(), CammerWidget::kRoiLabelPixels))
            std::fprintf(stderr, "roigallery: %s: %s\n", qPrintable(QFileInfo(file).fileName()), qPrintable(fault));
    }

    CammerSingleton& rec() { return *view->editRecord; }

    int addRect(QRect r, int method)
    {
        CammerSingleton& e = rec();
        const int i = e.roiCount[0]++;
        e.rect[0][i] = ClustomRect();
        e.rect[0][i].rect = r;
        e.kind[i] = 1;
        setMethod(i, method);
        view->editor()->renew(0, i);
        return i;
    }
    int addCircle(QPoint c, int r, int ri, int method)
    {
        CammerSingleton& e = rec();
        const int i = e.roiCount[0]++;
        Circle& s = e.circle[0][i];
        s = Circle();
        s.x = c.x();
        s.y = c.y();
        s.r = r;
        s.ri = ri;
        s.UpdateRect();
        e.kind[i] = 4;
        setMethod(i, method);
        view->editor()->renew(0, i);
        return i;
    }
    int addPolygon(const QVector<QPoint>& pts, bool hand, int method)
    {
        CammerSingleton& e = rec();
        const int i = e.roiCount[0]++;
        e.polygon[0][i] = RePolygon();
        e.polygon[0][i].setPoints(pts);
        e.polygon[0][i].SetHand(hand);
        e.kind[i] = 2;
        setMethod(i, method);
        view->editor()->renew(0, i);
        return i;
    }
    void setMethod(int i, int method)
    {
        int p1 = 0, p2 = 0, p3 = 0;
        RoiFunctions::startParameters(method, p1, p2, p3);
        rec().method[i] = method;
        rec().p1[i] = p1;
        rec().p2[i] = p2;
        rec().p3[i] = p3;
    }
    void select(int i, int object = 0)
    {
        view->editor()->deselect();
        view->ShowHideROIPara();
        if (i >= 0) {
            switch (rec().kind[i]) {
            case RoiShape::Rect: rec().rect[0][i].SetSelected(true); break;
            case RoiShape::Polygon: rec().polygon[0][i].SetSelected(true); break;
            default: rec().circle[0][i].SetSelected(true); break;
            }
        }
        view->editor()->select(i);
        view->ShowHideROIPara();
        for (int k = 0; k < object; ++k)
            view->editor()->nextObject();
    }
};

void scenes(Gallery& g)
{
    CammerWidget* v = g.view;
    RiVuRevezi* w = g.win;
    v->editRecord->roiCount[0] = 0;
    v->InitEditing();
    gSource = PictureSource::Template;
    w->cycleStatus().detectState = 3;
    EditSession::get().setDrawMode(0);
    gTempTime = QStringLiteral("2026-01-01 08.00.00");
    gpWPara->words[Word::RoiLimits] = 0;

    // Every kind of ROI on the template.
    const QVector<QPoint> hand = [] {
        QVector<QPoint> pts;
        for (int k = 0; k < 60; ++k) {
            const double a = k * 6.2831853 / 60;
            pts.append(QPoint(int(1420 + 170 * std::cos(a) + 25 * std::sin(5 * a)), int(700 + 120 * std::sin(a))));
        }
        return pts;
    }();
    g.addRect(QRect(QPoint(210, 240), QPoint(659, 559)), 0);
    g.addCircle(QPoint(1230, 450), 230, 60, 1);
    g.addPolygon({{240, 880}, {860, 880}, {860, 1020}, {560, 1050}, {240, 1020}}, false, 7);
    g.addPolygon(hand, true, 9);
    g.addRect(QRect(QPoint(1650, 120), QPoint(1850, 300)), 3);
    g.select(-1);
    g.save(QStringLiteral("template_all"));
    // A step's countdown running while the template view shows its time stamp.
    w->cycleStatus().countdownRemain[0] = 2.5f;
    w->cycleStatus().countdownTimer[0].start(600000);
    g.save(QStringLiteral("template_countdown"));
    w->cycleStatus().countdownTimer[0].stop();

    g.select(0);
    g.save(QStringLiteral("template_rect"));
    gpWPara->words[Word::RoiLimits] = 1;
    g.select(0, 1);
    g.save(QStringLiteral("template_rect_own_limits"));
    gpWPara->words[Word::RoiLimits] = 0;
    g.select(1, 2);
    g.save(QStringLiteral("template_circle_centre"));
    g.select(2, 2);
    g.save(QStringLiteral("template_polygon_point3"));
    g.select(3);
    v->panel()->fineTuneSwitch()->setChecked(true);
    g.save(QStringLiteral("template_hand_finetune"));
    v->editor()->nextMoveMode();
    v->editor()->nextMoveMode();
    g.save(QStringLiteral("template_hand_moveall"));
    v->panel()->fineTuneSwitch()->setChecked(false);

    // The panel of every method on the rectangle.
    for (int m = 0; m <= 10; ++m) {
        g.setMethod(0, m);
        g.select(0);
        if (m == 1 || m == 7 || m == 9)
            v->panel()->togglePair();
        g.save(QStringLiteral("panel_method%1%2").arg(m, 2, 10, QLatin1Char('0')).arg(m == 1 || m == 7 || m == 9 ? "_max" : ""));
    }
    g.setMethod(0, 0);

    // A polygon being drawn with tap drawing.
    g.select(-1);
    gpWPara->words[Word::ContinuousArea] = 1;
    EditSession::get().setDrawMode(RoiShape::Polygon);
    const QPoint pts[] = {{1100, 820}, {1350, 760}, {1500, 900}, {1300, 1030}, {1080, 980}};
    v->editor()->forgetPolygonPoints();
    for (const QPoint& p : pts)
        v->editor()->press(p);
    g.save(QStringLiteral("template_drawing_polygon"));
    v->editor()->abandonPolygon();
    v->editor()->forgetPolygonPoints();
    EditSession::get().setDrawMode(RoiShape::None);
    gpWPara->words[Word::ContinuousArea] = 0;

    // The live view after an NG: ROI 2 and the positioning ROI failed.
    g.select(-1);
    *v->savedRecord = *v->editRecord;
    for (int i = 0; i < 5; ++i)
        v->savedRecord->rect[0][i].SetSelected(false), v->savedRecord->circle[0][i].SetSelected(false),
            v->savedRecord->polygon[0][i].SetSelected(false);
    std::memset(v->resultImage, 0, size_t(kW) * kH);
    for (int y = 390; y < 420; ++y)
        for (int x = 800; x < 850; ++x)
            if ((x + y) % 3)
                v->resultImage[y * kW + x] = 255;
    v->roiPassed[0][1] = false;
    v->roiValue[0][0] = 12;
    v->roiValue[0][1] = 1480;
    v->roiValue[0][2] = 3;
    v->stepOk = false;
    w->cycleStatus().detectState = 2;
    w->cycleStatus().countState = 2;
    w->cycleStatus().runState = 1;
    CounterValues counters;
    counters.failCycle[0] = 3;
    counters.allCycle[0] = 1207;
    ProductionCounters::get().restore(counters);
    v->TimerFPS();
    gSource = PictureSource::Live;
    v->UpdateImage();
    v->setBlink(1);
    g.save(QStringLiteral("live_ng"));
    v->setBlink(0);
    g.save(QStringLiteral("live_ng_blink_off"));
    // As a tile of two cameras: the labels keep their size.
    v->setGeometry(0, 0, gShowW / 2, gShowH / 2);
    v->UpdateImage();
    g.save(QStringLiteral("live_ng_tile"));
    v->setGeometry(0, 0, gShowW, gShowH);
    v->UpdateImage();
    v->roiPassed[0][1] = true;
    v->stepOk = true;
    w->cycleStatus().detectState = 1;
    g.save(QStringLiteral("live_ok"));
    gSource = PictureSource::None;
    w->cycleStatus().detectState = 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("roigallery");
    QDir().mkpath(out);
    initLanStr();
    loadSkin();
    // Widgets take their fonts from the language at construction, as in the
    // program (a language change reboots): one language per run.
    if (argc <= 2) {
        int failed = 0;
        for (int lan = 0; lan < 4; ++lan) {
            const int rc = QProcess::execute(QCoreApplication::applicationFilePath(), {out, QString::number(lan)});
            if (rc != 0) {
                std::fprintf(stderr, "roigallery: language %d failed (%d)\n", lan, rc);
                ++failed;
            }
        }
        return failed ? 1 : 0;
    }
    const QString which = QString::fromLocal8Bit(argv[2]);
    bool isNumber = false;
    const int asked = which.toInt(&isNumber);
    if (isNumber) {
        if (asked < 0 || asked > 3) {
            std::fprintf(stderr, "roigallery: language %d is not 0-3\n", asked);
            return 2;
        }
        gLan = asked;
    } else if (!languageFromParamDb(which)) {
        return 2;
    }
    const QVector<int> lans{gLan};
    gShowW = 1920;
    gShowH = 1080;
    gDNum = 2;
    gTempNum = 2;
    numCamera = 1;
    gpWPara = new WizardPara;
    for (int k = 0; k < 8; ++k)
        gpWPara->words[Word::StepEnabled0 + k] = 0;
    for (int w : {139, 140, 141, 142, 154, 180, 181, 182, 183, 184, 185})
        gpWPara->words[w] = 1;
    gpWPara->words[Word::GreyFilter] = 5;
    gpWPara->words[Word::GreyArea] = 100;
    gpWPara->words[Word::EjectorPulseOnProductNg] = 1;
    gpWPara->words[Word::Mode] = DetectMode::Standard;
    gpWPara->words[Word::ExternalTrigger] = 0;

    auto* plugin = new GalleryPlugin;
    CameraManager::getInstance()->interfaces.append(plugin);
    Gallery g;
    g.out = out;
    g.win = new RiVuRevezi(nullptr);
    gpWin = g.win;
    g.win->resize(gShowW, gShowH);
    _cameraInfo info;
    info.pluginName = plugin->name();
    setCameraSerial(info, QStringLiteral("GALLERY1"));
    g.view = new CammerWidget(g.win, 0, info);
    if (!g.view->isOpen()) {
        std::fprintf(stderr, "roigallery: the camera view could not be built\n");
        return 1;
    }
    CameraViews::set(0, g.view);
    g.view->setGeometry(0, 0, gShowW, gShowH);
    g.view->show();
    g.win->show();
    for (int k = 0; k < 200 && !(g.win->windowHandle() && g.win->windowHandle()->isExposed()); ++k)
        settle(10);
    g.view->UpdateImage();
    g.view->showPicture(g.view->captureFrame);
    g.view->DisplayChanged();
    for (int lan : lans) {
        gLan = lan;
        scenes(g);
    }
    std::printf("roigallery: pictures in %s\n", qPrintable(out));
    delete g.win;
    return 0;
}
