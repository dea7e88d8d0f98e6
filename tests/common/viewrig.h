// The shared rig of the camera-view tests (the main-window tests extend it):
//   - pictures the test paints, handed out by an in-process camera plug-in;
//   - RecordWindow: a stand-in main window with an operation record;
//   - ViewRig: a view over a still camera with its detection engine, for the
//     engine and fault-picture tests;
//   - ViewEnv: a shown view filling a window, with a hand-set clock, scripted
//     boxes and gestures, for the ROI editing, overlay and panel tests;
//   - ViewFixture: PARAM.db and the system parameters in a working folder,
//     with a camera that records every call, for the view tests.
// Every rig owns the process state it sets and puts it back when it goes.
#pragma once

#include "cameramanager.h"
#include "databases.h"
#include "cameraviews.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "editsession.h"
#include "globals.h"
#include "lanstr.h"
#include "paramdb.h"
#include "statewindow.h"
#include "testworkdir.h"
#include "wizardpara.h"
#include "scripteddialogs.h"
#include "scriptedoutputs.h"

#include <QDir>
#include <QImage>
#include <QJsonObject>
#include <QPainter>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QVariant>
#include <QVector>
#include <QWindow>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace rig {

// ---- Pictures and the picture camera ---------------------------------------------

// The grey picture camera `index` shows; empty until a rig or test sets it.
inline cv::Mat& picture(int index)
{
    static cv::Mat pictures[kMaxCamera];
    return pictures[qBound(0, index, kMaxCamera - 1)];
}

// A camera that opens at once with the size of picture(index). A delivering
// camera hands that picture out on every grab (as 0xffRRGGBB words to a
// colour view); a still one gives nothing: its frames come from the test.
class PictureCamera : public CameraInterface {
public:
    PictureCamera(int index, int kind, bool delivers) : index_(index), kind_(kind), delivers_(delivers) {}
    bool open() override { return true; }
    int kind() override { return kind_; }
    void getSize(int* w, int* h) override
    {
        if (w)
            *w = picture(index_).cols;
        if (h)
            *h = picture(index_).rows;
    }
    bool getImage(uchar* out) override
    {
        const cv::Mat& m = picture(index_);
        if (!delivers_ || m.empty())
            return false;
        if (!gisColor) {
            std::memcpy(out, m.data, m.total());
            return true;
        }
        auto* px = reinterpret_cast<quint32*>(out);
        for (size_t i = 0; i < m.total(); ++i)
            px[i] = 0xff000000u | (m.data[i] * 0x010101u);
        return true;
    }

private:
    int index_;
    int kind_;
    bool delivers_;
};

// Registered with the camera manager once per process; a rig sets the kind
// and delivery of the cameras it is about to make.
class PicturePlugin : public CameraInterface {
public:
    QString name() override { return QStringLiteral("rigcamera"); }
    CameraInterface* createCamera(_cameraInfo info) override
    {
        return new PictureCamera(info.index, cameraKind, delivers);
    }
    int cameraKind = 1;
    bool delivers = false;
};

inline PicturePlugin* plugin()
{
    static PicturePlugin* p = [] {
        auto* made = new PicturePlugin;
        CameraManager::getInstance()->interfaces.append(made);
        return made;
    }();
    return p;
}

// Camera `index` of the picture plug-in.
inline _cameraInfo pictureCamera(int index, int kind, bool delivers, const QString& serial = QString())
{
    plugin()->cameraKind = kind;
    plugin()->delivers = delivers;
    _cameraInfo info;
    info.index = index;
    info.pluginName = plugin()->name();
    if (!serial.isEmpty())
        setCameraSerial(info, serial);
    return info;
}

// ---- Records -------------------------------------------------------------------------

// Appends ROI slot `step` of record `rec` with its kind, method and
// parameters; the caller draws the shape. Returns its index.
inline int appendRoi(CammerSingleton& rec, int step, int kind, int method, int p1, int p2, int p3)
{
    const int i = rec.roiCount[step]++;
    const int j = step * kMaxRoi + i;
    rec.kind[j] = kind;
    rec.method[j] = method;
    rec.p1[j] = p1;
    rec.p2[j] = p2;
    rec.p3[j] = p3;
    return i;
}

// The remarks of an operation record, oldest first.
inline QStringList remarks(const QSqlDatabase& db)
{
    QStringList out;
    QSqlQuery q(db);
    q.exec(QStringLiteral("select remarks from RECORD order by rowid"));
    while (q.next())
        out << q.value(0).toString();
    return out;
}

// A stand-in main window (installed as gpState) with an empty operation
// record in `path` on its own connection.
class RecordWindow : public StateWindow {
public:
    RecordWindow(const QString& path, const QString& connection) : connection_(connection)
    {
        QSqlDatabase recordDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        recordDb.setDatabaseName(path);
        recordDb.open();
        QSqlQuery(recordDb).exec(
            QStringLiteral("create table RECORD(recordtime text, recordpassword text, remarks text, recordtype text)"));
        databases.setRecordDb(recordDb);
    }
    ~RecordWindow() override
    {
        databases.recordDb().close();
        databases.setRecordDb(QSqlDatabase());
        QSqlDatabase::removeDatabase(connection_);
    }
    QStringList remarks() const { return rig::remarks(databases.recordDb()); }

private:
    QString connection_;
};

// ---- ViewRig: the engine over a still camera ---------------------------------------

struct Options {
    int width = 160;
    int height = 120;
    bool colour = false;
    int tempNum = 3;
    int camera = 0;
    unsigned disabledSteps = 0;  // bit g: word StepEnabled0 + g is 0 when the view is built
    int steps = 8;               // detection steps the view makes buffers for
};

class ViewRig {
public:
    explicit ViewRig(const Options& o = Options()) : opt(o)
    {
        oldColour_ = gisColor;
        oldTempNum_ = gTempNum;
        oldDNum_ = gDNum;
        oldShowW_ = gShowW;
        oldShowH_ = gShowH;
        oldPara_ = gpWPara;

        para_.reset(new WizardPara);
        gpWPara = para_.get();
        int* w = para_->words;
        for (int g = 0; g < 8; ++g)
            w[Word::StepEnabled0 + g] = (o.disabledSteps >> g) & 1u ? 0 : 1;
        w[Word::Mode] = o.steps >= 8 ? DetectMode::MultiStep : DetectMode::Standard;  // eight steps
        w[Word::MotionCorrection] = -1;  // positioning off unless a test turns it on
        w[Word::Amplify] = 0;
        w[Word::GreyFilter] = 1;
        w[Word::GreyArea] = 100;
        w[Word::ColourMin] = 0;
        w[Word::ColourMax] = 1000;
        w[Word::ShapeAccuracy] = 5;
        w[Word::ShapeLevels] = 5;
        w[Word::RoiLimits] = 0;
        w[Word::SearchMargin] = 8000;
        w[Word::AreaIsMinimum] = 0;
        w[Word::Normalise] = 0;
        w[Word::Homography] = 0;
        w[Word::BandFilter] = 1;
        w[Word::AngleRange] = 0;
        gisColor = o.colour ? 1 : 0;
        gisGrayHue = 1;
        gTempNum = o.tempNum;
        gDNum = std::min(o.steps, 8);
        gShowW = o.width;
        gShowH = o.height;
        if (!pMutexSaveFail)
            pMutexSaveFail = new QMutex;

        EditSession::get().reset();
        win.reset(new RecordWindow(dir_.filePath(QStringLiteral("RECORD.db")), QStringLiteral("rigrecord")));
        outputs_.onRoiJudged = [this](const param_roi& r) { records.push_back(r); };
        picture(o.camera) = cv::Mat(o.height, o.width, CV_8UC1, cv::Scalar(0));
        view.reset(new CammerWidget(win.get(), o.camera, pictureCamera(o.camera, 1, false)));
        CameraViews::set(o.camera, view.get());
    }

    ~ViewRig()
    {
        outputs_.onRoiJudged = nullptr;
        CameraViews::set(opt.camera, nullptr);
        view.reset();
        win.reset();
        gpWPara = oldPara_;
        gisColor = oldColour_;
        gTempNum = oldTempNum_;
        gDNum = oldDNum_;
        gShowW = oldShowW_;
        gShowH = oldShowH_;
    }

    int* words() { return para_->words; }
    CammerSingleton& rec() { return *view->savedRecord; }
    CammerSingleton& edit() { return *view->editRecord; }
    CammerRecong& engine() { return *view->engine(); }
    cv::Size size() const { return {opt.width, opt.height}; }

    // A rectangle ROI at picture rectangle r; returns its index.
    int addRect(int step, cv::Rect r, int func, int p1 = 0, int p2 = 0, int p3 = 0, bool edited = false)
    {
        CammerSingleton& c = edited ? edit() : rec();
        const int i = appendRoi(c, step, 1, func, p1, p2, p3);
        c.rect[step][i].imgRect = QRect(r.x, r.y, r.width, r.height);
        c.rect[step][i].rect = c.rect[step][i].imgRect;
        masks(edited)[step * kMaxRoi + i] =
            r.width > 0 && r.height > 0 ? cv::Mat(r.height, r.width, CV_8UC1, cv::Scalar(255)) : cv::Mat();
        return i;
    }

    // A circle ROI (ring when inner > 0) about centre with radius r.
    int addCircle(int step, cv::Point centre, int r, int func, int p1 = 0, int p2 = 0, int p3 = 0, int inner = 0)
    {
        const int i = appendRoi(rec(), step, 4, func, p1, p2, p3);
        Circle& s = rec().circle[step][i];
        s.x = s.imgX = centre.x;
        s.y = s.imgY = centre.y;
        s.r = s.imgR = r;
        s.ri = s.imgRi = inner;
        s.imgRect.setCoords(centre.x - r, centre.y - r, centre.x + r - 1, centre.y + r - 1);
        s.rect = s.imgRect;
        masks(false)[step * kMaxRoi + i] = s.UpdateMask();
        return i;
    }

    cv::Mat* masks(bool edited) { return edited ? &view->editMasks[0][0] : &view->liveMasks[0][0]; }

    // Grey pictures for grey cameras; colour cameras take 8-bit BGRA (the
    // byte order of the view's 0xffRRGGBB words).
    void putPicture(uchar* dst, const cv::Mat& img)
    {
        const cv::Mat want = opt.colour ? toBgra(img) : img;
        CV_Assert(want.size() == size() && want.isContinuous());
        std::memcpy(dst, want.data, static_cast<size_t>(view->frameBytes));
    }

    static cv::Mat toBgra(const cv::Mat& img)
    {
        if (img.type() == CV_8UC4)
            return img;
        cv::Mat out;
        cv::cvtColor(img, out, img.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
        return out;
    }

    void setTemplate(int step, int slot, const cv::Mat& img, bool used = true)
    {
        putPicture(view->templateSlot(step, slot), img);
        view->tempUsed[step][slot] = used ? 1 : 0;
        int n = 0;
        for (int u : view->tempUsed[step])
            n += u ? 1 : 0;
        view->tempCount[step] = n;
    }

    void setCapture(const cv::Mat& img) { putPicture(view->captureFrame, img); }
    void setAligned(const cv::Mat& img) { putPicture(view->alignedFrame, img); }

    cv::Mat grey(uchar* p) const { return cv::Mat(size(), CV_8UC1, p); }
    cv::Mat work() const { return grey(view->workFrame).clone(); }
    cv::Mat aligned() const { return grey(view->alignedFrame).clone(); }
    cv::Mat result() const { return grey(view->resultImage).clone(); }
    cv::Mat ignore(int step) { return grey(view->ignoreMask[step]); }

    void train(int step)
    {
        engine().CreateHomoShape(step);
        engine().CreateShape(step);
        engine().VarTrain(step);
    }

    // What the main window's detection runs for one camera and step.
    void detect(int step)
    {
        records.clear();
        win->cycleStatus().detectStep = step;
        engine().HomoTransShape(step);
        engine().ShapeMatch();
        engine().Run(step);
    }

    // Judges the aligned picture as given.
    void judge(int step, const cv::Mat& picture)
    {
        records.clear();
        setAligned(picture);
        engine().Run(step);
    }

    QStringList remarks() const { return win->remarks(); }

    int boxCount(int step, int roi) const { return view->defectRects[step][roi][0][0]; }
    cv::Rect box(int step, int roi, int k) const
    {
        const int* b = view->defectRects[step][roi][1 + k];
        return cv::Rect(cv::Point(b[0], b[1]), cv::Point(b[2], b[3]));
    }

    Options opt;
    std::unique_ptr<RecordWindow> win;
    std::unique_ptr<CammerWidget> view;
    std::vector<param_roi> records;
    ScriptedOutputs outputs_;   // judged ROIs land in `records`

private:
    QTemporaryDir dir_;
    std::unique_ptr<WizardPara> para_;
    WizardPara* oldPara_ = nullptr;
    int oldColour_ = 0;
    int oldTempNum_ = 0;
    int oldDNum_ = 0;
    int oldShowW_ = 0;
    int oldShowH_ = 0;
};

// ---- ViewEnv: a shown view under the finger ----------------------------------------

struct EnvOptions {
    int camW = 320;
    int camH = 256;
    int showW = 1280;
    int showH = 1024;
    bool colour = false;
    int steps = 2;          // gDNum
    bool train = false;     // the engine trains every step (previews work)
};

// One window with one camera view filling it, in a temporary working folder;
// the camera shows a flat grey 100 (picture(0)). The ROI page's drawing
// buttons are emulated the way they behave with tap drawing on: a double
// press ends the shape (polygons are stored).
class ViewEnv {
public:
    explicit ViewEnv(const EnvOptions& o = EnvOptions())
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
        // Every step is judged (only such a step holds buffers); what the
        // engine trains at construction is dropped below, unless asked for.
        for (int k = 0; k < 8; ++k)
            gpWPara->words[Word::StepEnabled0 + k] = k < o.steps ? 1 : 0;
        gpWPara->words[Word::Mode] = DetectMode::Standard;

        savedClock_ = CammerWidget::clock;
        dialogs_.onWarn = [this](const QString& t) { warnings << t; };
        dialogs_.onChoose = [this](const QString& t) {
            questions << t;
            return answers.isEmpty() ? false : answers.takeFirst();
        };
        CammerWidget::clock = [this] { return now; };
        CammerWidget::resetDoubleClick();

        RoiPageLink link;
        link.startDrawPloygn = [this] { ++startPolygonCalls; };
        link.drawPloygn = [this] {
            ++endCalls[2];
            const bool underWay = view->editor()->polygonUnderWay();
            view->editor()->savePolygon();
            if (underWay) {
                view->editor()->abandonPolygon();
                EditSession::get().setDrawMode(2);
            } else {
                EditSession::get().setDrawMode(0);
            }
        };
        auto ends = [this](int mode) {
            return [this, mode] {
                ++endCalls[mode];
                EditSession::get().setDrawMode(0);
            };
        };
        link.drawRect = ends(1);
        link.drawHand = ends(3);
        link.drawCircle = ends(4);
        CammerWidget::setPageLink(link);

        EditSession::get().reset();
        win = new StateWindow;
        gpState = win;
        // The parameter sliders' size hint runs on the window's timer.
        auto* hintTimer = new QTimer(win);
        hintTimer->setSingleShot(true);
        EditSession::get().setSizeHintTimer(hintTimer);
        win->resize(o.showW, o.showH);
        picture(0) = cv::Mat(o.camH, o.camW, CV_8UC1, cv::Scalar(100));
        view = new CammerWidget(win, 0, pictureCamera(0, 0, true, QStringLiteral("ROI00001")));
        if (view->engine()) {
            for (int g = 0; g < o.steps; ++g)
                view->engine()->ForgetStep(g);
        }
        CameraViews::set(0, view);
        EditSession::get().setCurrentCamera(0);
        view->setGeometry(0, 0, o.showW, o.showH);
        view->show();
        win->show();
        if (!QTest::qWaitForWindowExposed(win))
            qWarning("ViewEnv: the window was not exposed");
        if (view->UpdateImage())
            view->showPicture(view->captureFrame);
        view->DisplayChanged();
        if (o.train && view->engine()) {
            for (int g = 0; g < o.steps; ++g)
                view->engine()->VarTrain(g);
        }
    }

    ~ViewEnv()
    {
        delete win;
        gpState = nullptr;
        delete gpWPara;
        gpWPara = nullptr;
        CammerWidget::clock = savedClock_;
        CammerWidget::setPageLink(RoiPageLink());
        CammerWidget::resetDoubleClick();
        gSource = -1;
        numCamera = 0;
        gisColor = 0;
    }

    TestWorkDir wd;
    StateWindow* win = nullptr;
    CammerWidget* view = nullptr;
    qint64 now = 1000000;          // the views' clock
    QStringList warnings;          // texts of the warning boxes shown
    QStringList questions;         // texts of the choice boxes shown
    QVector<bool> answers;         // answers given in order; "no" when used up
    int startPolygonCalls = 0;
    int endCalls[5] = {};          // double presses per draw mode (1, 2 clicked, 3 hand, 4)

    int& word(int n) { return gpWPara->words[n]; }
    CammerSingleton& edit() { return *view->editRecord; }
    CammerSingleton& saved() { return *view->savedRecord; }
    int count(int step = 0) { return view->editRecord->roiCount[step]; }

    // Gestures in widget coordinates, through the window. Every press first
    // moves the clock by `gapMs`, and is made at that time (the event's
    // timestamp): Qt turns a quick second press on one spot into a double
    // click, as it does for a finger.
    void press(QPoint p, qint64 gapMs = 1000)
    {
        now += gapMs;
        QTest::lastMouseTimestamp = int(now) - 1;
        QTest::mousePress(win->windowHandle(), Qt::LeftButton, Qt::NoModifier, toWindow(p));
    }
    void move(QPoint p) { QTest::mouseMove(win->windowHandle(), toWindow(p)); }
    void release(QPoint p) { QTest::mouseRelease(win->windowHandle(), Qt::LeftButton, Qt::NoModifier, toWindow(p)); }
    void tap(QPoint p, qint64 gapMs = 1000)
    {
        press(p, gapMs);
        release(p);
    }
    // Press at a, `steps` moves evenly to b, release at b.
    void drag(QPoint a, QPoint b, int steps = 4)
    {
        press(a);
        for (int k = 1; k <= steps; ++k)
            move(a + (b - a) * k / steps);
        release(b);
    }

    // A rectangle ROI (full-view corners) on the step of the edited copy with
    // its mask, as drawing would.
    int addRect(int step, QRect r, int method = 0, int p1 = 45, int p2 = 100, int p3 = 3)
    {
        const int i = edit().roiCount[step];
        edit().rect[step][i] = ClustomRect();
        edit().rect[step][i].rect = r;
        return renew(step, appendRoi(edit(), step, 1, method, p1, p2, p3));
    }
    int addPolygon(int step, const QVector<QPoint>& pts, int method = 0)
    {
        const int i = edit().roiCount[step];
        edit().polygon[step][i] = RePolygon();
        edit().polygon[step][i].setPoints(pts);
        return renew(step, appendRoi(edit(), step, 2, method, 45, 100, 3));
    }
    int addCircle(int step, QPoint centre, int r, int method = 0)
    {
        Circle& c = edit().circle[step][edit().roiCount[step]];
        c = Circle();
        c.x = centre.x();
        c.y = centre.y();
        c.r = r;
        c.UpdateRect();
        return renew(step, appendRoi(edit(), step, 4, method, 45, 100, 3));
    }

    // The whole view painted into a picture of its size.
    QImage paint()
    {
        QImage img(view->size(), QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        view->PaintView(p);
        return img;
    }

private:
    QPoint toWindow(QPoint p) const { return view->mapTo(view->window(), p); }
    int renew(int step, int i)
    {
        view->editor()->renew(step, i);
        return i;
    }

    ScriptedDialogs dialogs_;   // the views' boxes, scripted
    std::function<qint64()> savedClock_;
};

// Every rule that must hold whatever a finger did: at most 100 ROIs, shapes
// inside the view, masks the size of the picture rectangles, the drawn
// polygon's point count within 0..8096, the current ROI valid or -1. Empty
// when all hold, else what broke.
inline QString checkInvariants(const CammerWidget& v, int step)
{
    const CammerSingleton& rec = *v.editRecord;
    const int count = rec.roiCount[step];
    if (count < 0 || count > kMaxRoi)
        return QStringLiteral("ROI count %1").arg(count);
    if (v.editor()->polygonPointCount() < 0 || v.editor()->polygonPointCount() > RoiEditor::kMaxPolyPoints)
        return QStringLiteral("polygon point count %1").arg(v.editor()->polygonPointCount());
    if (v.editor()->current() < -1 || v.editor()->current() >= count)
        return QStringLiteral("current ROI %1 of %2").arg(v.editor()->current()).arg(count);
    auto inside = [](QPoint p) { return p.x() >= 3 && p.y() >= 3 && p.x() <= gShowW - 3 && p.y() <= gShowH - 3; };
    for (int i = 0; i < count; ++i) {
        const int j = step * kMaxRoi + i;
        QRect img;
        bool selected = false;
        switch (rec.kind[j]) {
        case RoiShape::Rect: {
            const ClustomRect& r = rec.rect[step][i];
            if (!inside(r.rect.topLeft()) || !inside(r.rect.bottomRight()))
                return QStringLiteral("rectangle %1 at %2,%3-%4,%5 leaves the view")
                    .arg(i).arg(r.rect.left()).arg(r.rect.top()).arg(r.rect.right()).arg(r.rect.bottom());
            img = r.imgRect;
            selected = r.IsSelected();
            break;
        }
        case RoiShape::Polygon: {
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
        case RoiShape::Circle: {
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
        if (selected && i != v.editor()->current())
            return QStringLiteral("ROI %1 is selected but the current ROI is %2").arg(i).arg(v.editor()->current());
    }
    return QString();
}

// ---- ViewFixture: the views over PARAM.db and a recording camera -------------------

// A camera that records the calls it gets, one text per call.
class RecordingCamera : public CameraInterface {
public:
    explicit RecordingCamera(int kind) : kind_(kind) {}

    bool open() override
    {
        calls << QStringLiteral("open");
        return openResult;
    }
    void close() override { calls << QStringLiteral("close"); }
    void start() override { calls << QStringLiteral("start"); }
    void stop() override { calls << QStringLiteral("stop"); }
    void lost() override { calls << QStringLiteral("lost"); }
    bool reconnect() override
    {
        ++reconnectAttempts;
        calls << QStringLiteral("reconnect");
        reconnectThread = QThread::currentThread();
        if (duringReconnect)
            duringReconnect();
        if (reconnectFailures > 0) {
            --reconnectFailures;
            return false;
        }
        deviceLost = false;
        return true;
    }
    void setting(QJsonObject o) override
    {
        lastSetting = o;
        calls << QStringLiteral("setting");
        settingThread = QThread::currentThread();
        if (duringSetting)
            duringSetting();
    }
    void setExposeTime(int v) override { calls << QStringLiteral("setExposeTime %1").arg(v); }
    void setAdjustPlus(int v) override { calls << QStringLiteral("setAdjustPlus %1").arg(v); }
    void setSharp(int v) override { calls << QStringLiteral("setSharp %1").arg(v); }
    void setContrast(int v) override { calls << QStringLiteral("setContrast %1").arg(v); }
    void setGamma(int v) override { calls << QStringLiteral("setGamma %1").arg(v); }
    void setWDR(bool on) override { calls << QStringLiteral("setWDR %1").arg(on); }
    void setHMirror(bool on) override { calls << QStringLiteral("setHMirror %1").arg(on); }
    void setVMirror(bool on) override { calls << QStringLiteral("setVMirror %1").arg(on); }
    void setWB() override { calls << QStringLiteral("setWB"); }
    void setColor(bool on) override
    {
        colour = on;
        calls << QStringLiteral("setColor %1").arg(on);
    }
    void setSpeed(int v) override { calls << QStringLiteral("setSpeed %1").arg(v); }
    void updateROI(QVariant v, int n) override
    {
        calls << QStringLiteral("updateROI %1 %2").arg(QString::fromLatin1(v.typeName())).arg(n);
        roiRecord = v.isValid() ? *static_cast<void* const*>(v.constData()) : nullptr;
    }
    void getFps(int* fps) override
    {
        if (fps)
            *fps = 17;
    }
    void changeTrigger(bool on) override { calls << QStringLiteral("changeTrigger %1").arg(on); }
    void softTrigger() override { calls << QStringLiteral("softTrigger"); }
    void getSize(int* w, int* h) override
    {
        *w = width;
        *h = height;
    }
    bool getImage(uchar* buffer) override
    {
        calls << QStringLiteral("getImage");
        if (deviceLost)
            return false;
        std::memset(buffer, fill, size_t(width) * size_t(height) * (colour ? 4 : 1));
        return true;
    }
    void restoreDefault(QJsonObject* o, int camera) override
    {
        calls << QStringLiteral("restoreDefault %1").arg(camera);
        if (o)
            *o = defaults;
    }
    int kind() override { return kind_; }

    // Emits the loss signal the way a device thread would: queued.
    void loseDevice()
    {
        deviceLost = true;
        QTimer::singleShot(0, this, [this] { emit sigCameraLost(); });
    }
    int count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& c : calls)
            n += c.startsWith(prefix);
        return n;
    }

    QStringList calls;
    QJsonObject lastSetting;
    int width = 64;
    int height = 48;
    bool colour = false;
    bool openResult = true;
    int reconnectFailures = 0;       // attempts that fail before one succeeds
    int reconnectAttempts = 0;
    QThread* reconnectThread = nullptr;      // where the last attempt ran
    std::function<void()> duringReconnect;   // runs inside each attempt
    QThread* settingThread = nullptr;        // where the last setting() ran
    std::function<void()> duringSetting;     // runs inside each setting()
    bool deviceLost = false;
    uchar fill = 0x5A;               // value of every delivered byte
    QJsonObject defaults;            // restoreDefault() replaces the object with it
    void* roiRecord = nullptr;       // the record that updateROI() carried

private:
    int kind_;
};

// Plug-in root "RecordingCamera" listing one camera; set up the next camera
// before it is created. Registered once per process by recordingPlugin().
class RecordingPlugin : public CameraInterface {
public:
    QString name() override { return QStringLiteral("RecordingCamera"); }
    int kind() override { return cameraKind; }
    QVector<_cameraInfo> enumCameras() override
    {
        _cameraInfo info;
        info.pluginName = name();
        setCameraSerial(info, QStringLiteral("RECORDING-0001"));
        return {info};
    }
    CameraInterface* createCamera(_cameraInfo) override
    {
        auto* cam = new RecordingCamera(cameraKind);
        cam->width = width;
        cam->height = height;
        cam->openResult = openResult;
        last = cam;
        return cam;
    }

    int width = 64;
    int height = 48;
    bool openResult = true;
    int cameraKind = 1;
    QPointer<RecordingCamera> last;
};

inline RecordingPlugin* recordingPlugin()
{
    static RecordingPlugin* root = [] {
        auto* p = new RecordingPlugin;
        CameraManager::getInstance()->interfaces.append(p);
        return p;
    }();
    return root;
}

inline _cameraInfo recordingCamera() { return recordingPlugin()->enumCameras().value(0); }

// The working folder, PARAM.db on connection "dbIn", RECORD.db, the window
// as gpState, and gpWPara / gpWParaBak loaded from PARAM.db.
class ViewFixture {
public:
    ViewFixture()
    {
        QString error;
        if (!paramdb::writeDefaultDatabase(QStringLiteral("PARAM.db"), 1, &error))
            qFatal("default PARAM.db: %s", qPrintable(error));
        EditSession::get().reset();
        win = new RecordWindow(QStringLiteral("RECORD.db"), QStringLiteral("viewrecord"));
        Databases::get().setParamDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn")));
        Databases::get().paramDb().setDatabaseName(QStringLiteral("PARAM.db"));
        if (!Databases::get().paramDb().open())
            qFatal("PARAM.db: %s", qPrintable(Databases::get().paramDb().lastError().text()));
        Databases::get().setParamQuery(new QSqlQuery(Databases::get().paramDb()));
        gShowW = 1280;
        gShowH = 1024;
        gpWPara = new WizardPara;
        gpWPara->LoadDatafromFile();
        gpWParaBak = new WizardPara;
        gTempNum = gpWPara->words[Word::TemplatesKept];
        gisColor = 0;
        gSource = -1;
    }
    ~ViewFixture()
    {
        delete gpWPara;
        gpWPara = nullptr;
        delete gpWParaBak;
        gpWParaBak = nullptr;
        delete Databases::get().paramQuery();
        Databases::get().setParamQuery(nullptr);
        Databases::get().paramDb().close();
        Databases::get().setParamDb(QSqlDatabase());
        gpState = nullptr;
        delete win;
        QSqlDatabase::removeDatabase(QStringLiteral("dbIn"));
    }
    ViewFixture(const ViewFixture&) = delete;
    ViewFixture& operator=(const ViewFixture&) = delete;

    QStringList remarks() const { return win->remarks(); }

    TestWorkDir dir;
    RecordWindow* win = nullptr;
};

}  // namespace rig
