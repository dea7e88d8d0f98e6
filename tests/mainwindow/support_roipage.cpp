#include "support_roipage.h"

#include "databases.h"
#include "cameraviews.h"
#include "cameramanager.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "indexbutton.h"
#include "iofunc.h"
#include "iostatus.h"
#include "programroles.h"
#include "lanstr.h"
#include "passwordbox.h"
#include "posix_qextserialport.h"
#include "recordstore.h"
#include "rivurevezi.h"
#include "savefialimagethread.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMutex>
#include <QSqlQuery>

#include <opencv2/imgproc.hpp>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>

namespace pagetest {

namespace {
const QString kRecordConnection = QStringLiteral("roitest-record");
}  // namespace

void paintDefect(int camera, int x, int y, int side)
{
    cv::rectangle(scene(camera), cv::Rect(x, y, side, side), cv::Scalar(255), cv::FILLED);
}

void clearScene(int camera)
{
    scene(camera).setTo(kGround);
}

bool writeGreyBmp(const QString& path, const cv::Mat& grey)
{
    QImage img(grey.cols, grey.rows, QImage::Format_Indexed8);
    QVector<QRgb> table;
    for (int i = 0; i < 256; ++i)
        table.append(qRgb(i, i, i));
    img.setColorTable(table);
    for (int y = 0; y < grey.rows; ++y)
        std::memcpy(img.scanLine(y), grey.ptr(y), size_t(grey.cols));
    return img.save(path, "BMP");
}

cv::Mat readGrey(const QString& path)
{
    QImage img(path);
    if (img.isNull())
        return cv::Mat();
    img = img.convertToFormat(QImage::Format_Grayscale8);
    cv::Mat m(img.height(), img.width(), CV_8UC1);
    for (int y = 0; y < img.height(); ++y)
        std::memcpy(m.ptr(y), img.constScanLine(y), size_t(img.width()));
    return m;
}

// ---- Boxes -----------------------------------------------------------------------

BoxScript::BoxScript(QVector<bool> answers, int pollMs)
    : answers_(std::move(answers))
{
    timer_.setInterval(pollMs);
    connect(&timer_, &QTimer::timeout, this, &BoxScript::poll);
    timer_.start();
}

BoxScript::~BoxScript() = default;

void BoxScript::poll()
{
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible())
        return;
    QString text = QStringLiteral("<box>");
    if (auto* w = qobject_cast<WarnBox*>(dialog))
        text = w->text;
    else if (auto* c = qobject_cast<ChooseBox*>(dialog))
        text = c->text;
    else if (qobject_cast<PasswordBox*>(dialog))
        text = QStringLiteral("<password>");
    texts << text;
    if (answers_.isEmpty()) {
        ++unexpected;
        dialog->done(QDialog::Rejected);
        return;
    }
    const bool yes = answers_.takeFirst();
    dialog->done(yes ? QDialog::Accepted : QDialog::Rejected);
}

// ---- Environment ---------------------------------------------------------------------

RoiEnv::RoiEnv(const Options& o)
{
    static bool texts = [] { return initLanStr() > 0; }();
    Q_UNUSED(texts);
    gLan = kLanEnglish;
    gShowW = 1280;
    gShowH = 800;
    gDNum = o.steps;
    gTempNum = o.tempNum;
    gisColor = 0;
    gisGrayHue = 0;
    gSource = -1;
    gFromTrain = false;
    gisSafeDoorOpen = false;
    gDataIn = 0;
    gInputRiseLatch = 0;
    DrawROIWidget::sameParamNotePending = true;
    if (!pMutexIO)
        pMutexIO = new QMutex;
    if (!pMutexSaveFail)
        pMutexSaveFail = new QMutex;

    gpWPara = new WizardPara;
    gpWParaBak = new WizardPara;
    word(Word::Mode) = o.mode;
    for (int k = 0; k < o.steps && k < kMaxDetect; ++k) {
        word(Word::StepEnabled0 + k) = 1;  // step enabled
        word(Word::TriggerInput0 + k) = k % 10; // trigger input k
        word(Word::TriggerDelay0 + k) = 0;  // no countdown
    }
    word(Word::ProductStepEnabled) = 1;  // product detection enabled
    word(Word::MotionCorrection) = -1;  // no positioning: pictures judged as taken
    word(Word::StepCountMode3) = o.steps;

    // The I/O port talks to a pseudo terminal nobody reads.
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
        qputenv("VMM_COM_PORT", ptsname(master_));

    win = new RiVuRevezi(nullptr);
    gpWin = win;
    // The parameters above stand for the loaded ones: words and password
    // read them.
    win->roles->parametersLoaded = true;
    Databases::get().setParamDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn")));
    Databases::get().paramDb().setDatabaseName(QStringLiteral("./PARAM.db"));
    Databases::get().paramDb().open();
    Databases::get().setParamQuery(new QSqlQuery(Databases::get().paramDb()));
    Databases::get().setRecordStore(new RecordStore(kRecordConnection));
    Databases::get().recordStore()->open(QStringLiteral("./RECORD.db"));
    Databases::get().setRecordDb(Databases::get().recordStore()->db());

    for (int c = 0; c < o.cameras && c < kMaxCamera; ++c) {
        scene(c) = cv::Mat(o.height, o.width, CV_8UC1, cv::Scalar(kGround));
        for (int d = 0; d < kMaxDetect; ++d) {
            QDir().mkpath(QStringLiteral("./cammer%1%2").arg(c + 1).arg(d + 1));
            CameraViews::setPictureFolders(c, d, QDir(SaveFialImageThread::folderFor(c, d, false)),
                                           QDir(SaveFialImageThread::folderFor(c, d, true)));
        }
    }
    // Every step starts trained on the empty scene.
    for (int c = 0; c < o.cameras && c < kMaxCamera; ++c)
        for (int d = 0; d < o.steps && d < kMaxDetect; ++d)
            writeGreyBmp(QStringLiteral("./cammer%1%2/template0.bmp").arg(c + 1).arg(d + 1), scene(c));
    numCamera = 0;
    for (int c = 0; c < o.cameras && c < kMaxCamera; ++c) {
        CameraViews::set(c, new CammerWidget(win, c, rig::pictureCamera(c, 0, true, QStringLiteral("ROISCENE-%1").arg(c))));
        ++numCamera;
        for (int d = 0; d < kMaxDetect; ++d) {
            for (int which = 0; which < 2; ++which) {
                const int slot = which + 2 * (c * kMaxDetect + d);
                delete[] gpFailImage[slot];
                gpFailImage[slot] = new unsigned char[size_t(o.width) * o.height * 4]();
                gisSaveFail[slot] = false;
            }
        }
    }
    EditSession::get().setCurrentCamera(numCamera == 1 ? 0 : numCamera);
    win->viewArea = new QWidget(win);
    win->viewArea->setGeometry(0, 0, gShowW, gShowH - 100);
    for (int c = 0; c < numCamera; ++c)
        CameraViews::at(c)->setParent(win->viewArea);
    gpControlIO = new ControlPort(win);
    win->ioStatusWidget = new IOStatusWidget(win);
    win->indexButton = new IndexButton(win);
    win->InitRoiPage();
    page = win->drawROIWidget;
    win->ChangeCammer();
    win->resize(gShowW, gShowH);
    if (o.showWindow)
        win->show();
    win->StartDetect();
}

RoiEnv::~RoiEnv()
{
    QApplication::processEvents();
    delete Databases::get().paramQuery();
    Databases::get().setParamQuery(nullptr);
    Databases::get().paramDb().close();
    Databases::get().setParamDb(QSqlDatabase());
    Databases::get().setRecordDb(QSqlDatabase());
    delete Databases::get().recordStore();
    Databases::get().setRecordStore(nullptr);
    delete win;
    win = nullptr;
    gpWin = nullptr;
    gpControlIO = nullptr;
    numCamera = 0;
    QSqlDatabase::removeDatabase(QStringLiteral("dbIn"));
    QSqlDatabase::removeDatabase(kRecordConnection);
    for (unsigned char*& p : gpFailImage) {
        delete[] p;
        p = nullptr;
    }
    delete gpWPara;
    gpWPara = nullptr;
    delete gpWParaBak;
    gpWParaBak = nullptr;
    delete gpCom;
    gpCom = nullptr;
    if (master_ >= 0)
        ::close(master_);
    qunsetenv("VMM_COM_PORT");
    gSource = -1;
    gFromTrain = false;
}

CammerWidget* RoiEnv::view(int c) const
{
    return CameraViews::at(c);
}

int& RoiEnv::word(int n)
{
    return gpWPara->words[n];
}

QStringList RoiEnv::records() const
{
    return rig::remarks(Databases::get().recordStore()->db());
}

int RoiEnv::outputs() const
{
    QMutexLocker lock(pMutexIO);
    return gDataOut;
}

namespace {
int putRect(CammerSingleton& r, cv::Mat* masks, CammerWidget* v, int g, int x, int y, int w, int h, int method,
            int p1, int p2, int p3)
{
    ClustomRect& rect = r.rect[g][r.roiCount[g]];
    rect = ClustomRect();
    rect.setShowA(v->scale().fullX, v->scale().fullY);
    rect.rect = QRect(QPoint(int(x * v->scale().fullX), int(y * v->scale().fullY)),
                      QPoint(int((x + w) * v->scale().fullX) - 1, int((y + h) * v->scale().fullY) - 1));
    rect.setImageRect();
    const int i = rig::appendRoi(r, g, 1, method, p1, p2, p3);
    masks[g * kMaxRoi + i] = rect.UpdateMask();
    return i;
}
}  // namespace

int RoiEnv::addRect(int c, int g, int x, int y, int w, int h, int method, int p1, int p2, int p3)
{
    CammerWidget* v = view(c);
    return putRect(*v->editRecord, &v->editMasks[0][0], v, g, x, y, w, h, method, p1, p2, p3);
}

int RoiEnv::addSavedRect(int c, int g, int x, int y, int w, int h, int method, int p1, int p2, int p3)
{
    CammerWidget* v = view(c);
    const int i = putRect(*v->savedRecord, &v->liveMasks[0][0], v, g, x, y, w, h, method, p1, p2, p3);
    v->savedRecord->SaveDatatoFile();
    v->engine()->CreateHomoShape(g);
    v->engine()->CreateShape(g);
    v->engine()->VarTrain(g);
    return i;
}

void RoiEnv::grab()
{
    for (int c = 0; c < numCamera; ++c)
        view(c)->UpdateImage();
}

void RoiEnv::runStep(int k)
{
    gInputRiseLatch.fetch_or(1 << (word(Word::TriggerInput0 + k) == 255 ? 0 : word(Word::TriggerInput0 + k)));
    win->Run();
    win->TimerUp(k);
}

}  // namespace pagetest
