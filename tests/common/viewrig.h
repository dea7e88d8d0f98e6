// A camera view over an in-process still camera, with its detection engine,
// for the engine and fault-picture tests. The rig owns the process state it
// sets (system record, main window with an operation record, globals) and
// puts it back when it goes.
#pragma once

#include "cameramanager.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "globals.h"
#include "statewindow.h"
#include "wizardpara.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <memory>
#include <vector>

namespace rig {

// A camera that opens and reports a fixed picture size; frames come from the
// test, not from the camera.
class StillCamera : public CameraInterface {
public:
    StillCamera(int w, int h) : w_(w), h_(h) {}
    bool open() override { return true; }
    void getSize(int* width, int* height) override
    {
        if (width)
            *width = w_;
        if (height)
            *height = h_;
    }
    int kind() override { return 1; }

private:
    int w_;
    int h_;
};

class StillPlugin : public CameraInterface {
public:
    QString name() override { return QStringLiteral("stillcamera"); }
    CameraInterface* createCamera(_cameraInfo) override { return new StillCamera(width, height); }
    int width = 64;
    int height = 48;
};

inline StillPlugin* plugin()
{
    static StillPlugin* p = [] {
        auto* made = new StillPlugin;
        CameraManager::getInstance()->interfaces.append(made);
        return made;
    }();
    return p;
}

struct Options {
    int width = 160;
    int height = 120;
    bool colour = false;
    int tempNum = 3;
    int camera = 0;
    unsigned disabledSteps = 0;  // bit g: word 86 + g is 0 when the view is built
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
        oldMutex_ = pMutexSaveFail;

        para_.reset(new WizardPara);
        gpWPara = para_.get();
        int* w = para_->words;
        for (int g = 0; g < 8; ++g)
            w[86 + g] = (o.disabledSteps >> g) & 1u ? 0 : 1;
        w[WizardPara::kMode] = o.steps >= 8 ? 3 : 0;  // mode 3: eight steps
        w[96] = -1;                // positioning off unless a test turns it on
        w[107] = 0;
        w[116] = 1;
        w[117] = 100;
        w[118] = 0;
        w[119] = 1000;
        w[120] = 5;
        w[121] = 5;
        w[143] = 0;
        w[148] = 8000;
        w[149] = 0;
        w[153] = 0;
        w[154] = 0;
        w[171] = 1;
        w[186] = 0;
        gisColor = o.colour ? 1 : 0;
        gisGrayHue = 1;
        gTempNum = o.tempNum;
        gDNum = std::min(o.steps, 8);
        gShowW = o.width;
        gShowH = o.height;
        if (!pMutexSaveFail)
            pMutexSaveFail = new QMutex;

        connection_ = QStringLiteral("rigrecord");
        win.reset(new StateWindow);
        win->recordDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        win->recordDb.setDatabaseName(dir_.filePath(QStringLiteral("RECORD.db")));
        win->recordDb.open();
        QSqlQuery q(win->recordDb);
        q.exec(QStringLiteral("create table RECORD(recordtime text, recordpassword text, remarks text, recordtype text)"));
        gpState = win.get();

        CammerRecong::setRoiSink([this](const param_roi& r) { records.push_back(r); });

        plugin()->width = o.width;
        plugin()->height = o.height;
        _cameraInfo info;
        info.pluginName = plugin()->name();
        view.reset(new CammerWidget(win.get(), o.camera, info));
        gpState->cammerWidget[o.camera] = view.get();
    }

    ~ViewRig()
    {
        CammerRecong::setRoiSink(nullptr);
        gpState->cammerWidget[opt.camera] = nullptr;
        view.reset();
        gpState = nullptr;
        win->recordDb.close();
        win->recordDb = QSqlDatabase();
        win.reset();
        QSqlDatabase::removeDatabase(connection_);
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
    CammerRecong& engine() { return *view->engine; }
    cv::Size size() const { return {opt.width, opt.height}; }

    // ---- ROIs ------------------------------------------------------------------
    // A rectangle ROI at picture rectangle r; returns its index.
    int addRect(int step, cv::Rect r, int func, int p1 = 0, int p2 = 0, int p3 = 0, bool edited = false)
    {
        CammerSingleton& c = edited ? edit() : rec();
        const int i = c.roiCount[step]++;
        const int j = step * 100 + i;
        c.kind[j] = 1;
        c.method[j] = func;
        c.p1[j] = p1;
        c.p2[j] = p2;
        c.p3[j] = p3;
        c.rect[step][i].imgRect = QRect(r.x, r.y, r.width, r.height);
        c.rect[step][i].rect = c.rect[step][i].imgRect;
        masks(edited)[j] = r.width > 0 && r.height > 0 ? cv::Mat(r.height, r.width, CV_8UC1, cv::Scalar(255)) : cv::Mat();
        return i;
    }

    // A circle ROI (ring when inner > 0) about centre with radius r.
    int addCircle(int step, cv::Point centre, int r, int func, int p1 = 0, int p2 = 0, int p3 = 0, int inner = 0)
    {
        CammerSingleton& c = rec();
        const int i = c.roiCount[step]++;
        const int j = step * 100 + i;
        c.kind[j] = 4;
        c.method[j] = func;
        c.p1[j] = p1;
        c.p2[j] = p2;
        c.p3[j] = p3;
        Circle& s = c.circle[step][i];
        s.x = s.imgX = centre.x;
        s.y = s.imgY = centre.y;
        s.r = s.imgR = r;
        s.ri = s.imgRi = inner;
        s.imgRect.setCoords(centre.x - r, centre.y - r, centre.x + r - 1, centre.y + r - 1);
        s.rect = s.imgRect;
        masks(false)[j] = s.UpdateMask();
        return i;
    }

    cv::Mat* masks(bool edited) { return edited ? &view->editMasks[0][0] : &view->liveMasks[0][0]; }

    // ---- Pictures ------------------------------------------------------------
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

    // ---- Engine ------------------------------------------------------------------
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
        gpState->detectStep = step;
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

    QStringList remarks() const
    {
        QStringList out;
        QSqlQuery q(win->recordDb);
        q.exec(QStringLiteral("select remarks from RECORD order by rowid"));
        while (q.next())
            out << q.value(0).toString();
        return out;
    }

    int boxCount(int step, int roi) const { return view->defectRects[step][roi][0][0]; }
    cv::Rect box(int step, int roi, int k) const
    {
        const int* b = view->defectRects[step][roi][1 + k];
        return cv::Rect(cv::Point(b[0], b[1]), cv::Point(b[2], b[3]));
    }

    Options opt;
    std::unique_ptr<StateWindow> win;
    std::unique_ptr<CammerWidget> view;
    std::vector<param_roi> records;

private:
    QTemporaryDir dir_;
    QString connection_;
    std::unique_ptr<WizardPara> para_;
    WizardPara* oldPara_ = nullptr;
    QMutex* oldMutex_ = nullptr;
    int oldColour_ = 0;
    int oldTempNum_ = 0;
    int oldDNum_ = 0;
    int oldShowW_ = 0;
    int oldShowH_ = 0;
};

}  // namespace rig
