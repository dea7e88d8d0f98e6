// The picture side of the ROI tool page: the picture source of the camera
// views, browsing templates and stored OK/NG pictures, adding and deleting
// templates, and the ignored alarm points.
#include "drawroiwidget.h"

#include "databases.h"
#include "cameraviews.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "editsession.h"
#include "colorbutton.h"
#include "drawroiwidget_p.h"
#include "miscfunc.h"
#include "notice.h"
#include "cyclecontrol.h"
#include "machineoutputs.h"
#include "screenchrome.h"
#include "widgetkit.h"
#include "winstate.h"
#include "viewutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <vector>

#include <sys/stat.h>

using namespace roipage;

namespace {
using viewutil::isqrt;
using viewutil::greyTable;

// Writes a frame buffer as the template file: 8-bit indexed with the grey
// table, or 32-bit RGB for colour cameras.
bool writeTemplate(const QString& path, const uchar* pixels, int width, int height)
{
    if (!pixels || width < 1 || height < 1)
        return false;
    const bool ok = TemplateFiles::writePicture(path, pixels, width, height, gisColor != 0);
    if (!ok)
        qWarning("ROI page: template %s could not be written", qPrintable(path));
    return ok;
}

// The slot number of a template file name "template<digits>.bmp", -1 for any
// other name.
int templateSlotOf(const QString& fileName)
{
    static const QRegularExpression re(QStringLiteral("^template(\\d{1,6})\\.bmp$"));
    const QRegularExpressionMatch m = re.match(fileName);
    if (!m.hasMatch())
        return -1;
    bool ok = false;
    const int n = m.captured(1).toInt(&ok);
    return ok ? n : -1;
}

// The view paints from its picture; after a change it is told so, where
// the view's painting keeps a converted copy.
void shown(CammerWidget* v)
{
    v->DisplayChanged();
}

// The view shows the recent NG picture the ring shows of `step`, black while the ring
// has none there.
void showRecentNg(CammerWidget* v, int step)
{
    v->showPicture(v->recentNgPicture(step, v->ngRing().shown()));
}

}  // namespace

// ---- Switching the source ---------------------------------------------------------

void DrawROIWidget::SlotChangeSource(int s)
{
    if (!win_)
        return;
    // Editing during an NG needs the password; a refusal leaves everything,
    // the combo included, as it was.
    if (s == PictureSource::Template && win_->cycle().detectState == DetectState::NgLatched &&
        gSource != PictureSource::Template && CheckPassword() == 0) {
        setComboQuietly(sourceCombo, gSource);
        return;
    }
    movedAside = false;
    gSource = s;
    EditSession::get().setCopyArea(false);

    CycleControl::get().pictureSourceChosen(s);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        if (!v)
            continue;
        v->tempIndex = 0;
        v->editor()->deselect();
        v->ShowHideROIPara();
    }

    int camera = EditSession::get().currentCamera();
    const bool keep =
        s == PictureSource::Live ? (camera >= 0 && camera <= numCamera) : (camera >= 0 && camera < numCamera);
    if (!keep) {
        EditSession::get().setCurrentCamera(0);
        CycleControl::get().changeCammer();
    }
    setComboQuietly(cameraCombo, EditSession::get().currentCamera());

    ScreenChrome::get().ioStatusVisible(s != PictureSource::Template);
    showHideButton->setChecked(false);
    lastButton->setText(lanStr(59));
    nextButton->setText(lanStr(62));
    ScreenChrome::get().showhideHelp(false);
    ScreenChrome::get().mScaleSetToMin();

    CammerWidget* v = currentView();
    const int step = EditSession::get().currentDetect();
    switch (s) {
    case PictureSource::RecentNg:
        if (v) {
            v->ngRing().show(0);
            showRecentNg(v, step);
            shown(v);
            v->update();
        }
        break;
    case PictureSource::OkRecord:
    case PictureSource::NgRecord:
        storedIndex = 0;
        storedIsOk = s == PictureSource::OkRecord ? 1 : 0;
        LoadPic();
        if (v)
            v->update();
        break;
    case PictureSource::Template:
        NormalDrawCaptions();
        lastButton->setText(lanStr(559));
        nextButton->setText(lanStr(560));
        EditSession::get().setDrawMode(RoiShape::None);
        setCheckable();
        if (resetPending) {
            resetPending = false;
            for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
                if (CammerWidget* w = CameraViews::at(c))
                    w->revertEdits();
            }
        }
        if (v)
            ShowTemplate(v);
        break;
    case PictureSource::Live:
        if (win_->cycle().detectState == DetectState::NgLatched) {
            const bool showCapture = liveWord(Word::HoldPictureAfterAlarm) != 0 && liveWord(Word::OkNgPulses) == 0 &&
                ((liveWord(Word::EjectorPulseOnProductNg) == 0 && win_->cycle().runStep == 0) ||
                 (liveWord(Word::CavityNgClampPulse) == 0 && win_->cycle().runStep == 1));
            for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
                CammerWidget* w = CameraViews::at(c);
                if (!w)
                    continue;
                w->setBlink(Blink::Off);
                if (showCapture && w->captureFrame && w->showPicture(w->captureFrame))
                    shown(w);
            }
        }
        alarmPointButton->setText(lanStr(64));
        break;
    default:
        break;
    }
    SlotChangePage();
}

void DrawROIWidget::ShowTemplate(CammerWidget* v)
{
    const int step = EditSession::get().currentDetect();
    const int slot = v->tempIndex;
    if (step < 0 || step >= v->stepCount() || slot < 0 || slot >= v->templates[step].size() ||
        !v->templates[step][slot] || !v->showPicture(v->templates[step][slot])) {
        v->update();
        return;
    }
    shown(v);
    GetTempTIme(v->cameraIndex, step, slot);
    if (gisColor && v->greyScratch) {
        const auto* words = reinterpret_cast<const unsigned int*>(v->templates[step][slot]);
        if (gisGrayHue)
            RGBA2Gray(v->greyScratch, words, v->imageWidth, v->imageHeight);
        else
            RGBA2Hue(v->greyScratch, words, v->imageWidth, v->imageHeight);
    }
    v->update();
}

void DrawROIWidget::GetTempTIme(int camera, int detection, int slot)
{
    const QFileInfo info(templatePath(camera, detection, slot));
    gTempTime = info.exists() ? info.lastModified().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")) : QString();
}

// ---- Stored pictures ------------------------------------------------------------------

const QStringList& DrawROIWidget::listStored(const QString& folder)
{
    // The folder's own modification time changes with every picture added,
    // removed or renamed in it.
    struct stat folderStat {};
    const bool exists = ::stat(QFile::encodeName(folder).constData(), &folderStat) == 0;
    const qint64 stamp = exists ? qint64(folderStat.st_mtim.tv_sec) * 1000000000LL + folderStat.st_mtim.tv_nsec : -1;
    if (exists && folder == listedFolder_ && stamp == listedStamp_)
        return listed_;
    // Sorted on the raw modification times: a folder of 20,000 pictures
    // would otherwise spend seconds converting times while sorting.
    QDir dir(folder);
    const QStringList names =
        dir.exists() ? dir.entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Dirs | QDir::Drives, QDir::NoSort)
                     : QStringList();
    struct Entry {
        qint64 sec;
        long nsec;
        QString name;
    };
    std::vector<Entry> entries;
    entries.reserve(size_t(names.size()));
    const QByteArray base = QFile::encodeName(dir.path()) + '/';
    for (const QString& name : names) {
        struct stat st {};
        if (::stat((base + QFile::encodeName(name)).constData(), &st) != 0)
            continue;   // removed meanwhile
        entries.push_back({qint64(st.st_mtim.tv_sec), long(st.st_mtim.tv_nsec), name});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.sec != b.sec)
            return a.sec > b.sec;
        if (a.nsec != b.nsec)
            return a.nsec > b.nsec;
        return a.name < b.name;
    });
    listed_.clear();
    listed_.reserve(int(entries.size()));
    for (Entry& e : entries)
        listed_.append(std::move(e.name));
    listedFolder_ = folder;
    listedStamp_ = stamp;
    return listed_;
}

void DrawROIWidget::LoadPic()
{
    if (!win_)
        return;
    int c = cameraCombo->currentIndex();
    int d = detectCombo->currentIndex();
    if (c < 0 || c >= numCamera)
        c = 0;
    if (d < 0 || d >= gDNum || d >= kMaxDetect)
        d = 0;
    storedCamera = c;
    storedDetect = d;
    const QDir dir = CameraViews::pictureFolder(c, d, storedIsOk);
    const QStringList& list = listStored(dir.path());
    storedCount = list.size();
    if (storedCount == 0) {
        storedIndex = 0;
        storedName.clear();
        storedPicture = QImage();
        return;
    }
    if (storedIndex >= storedCount)
        storedIndex = storedCount - 1;
    if (storedIndex < 0)
        storedIndex = 0;
    const QString path = dir.filePath(list.at(storedIndex));
    storedName = list.at(storedIndex);
    if (storedName.endsWith(QStringLiteral(".jpg")))
        storedName.chop(4);
    if (!storedPicture.load(path)) {
        qWarning("ROI page: stored picture %s cannot be read", qPrintable(path));
        storedPicture = QImage();
    }
}

// ---- Previous and next -----------------------------------------------------------------

void DrawROIWidget::SlotTempLast()
{
    if (gSource == PictureSource::Template)
        StepTemplate(-1);
    else
        StepPicture(-1);
}

void DrawROIWidget::SlotTempNext()
{
    if (gSource == PictureSource::Template)
        StepTemplate(1);
    else
        StepPicture(1);
}

void DrawROIWidget::StepTemplate(int dir)
{
    CammerWidget* v = currentView();
    const int step = win_ ? EditSession::get().currentDetect() : -1;
    if (!v || v->tempIndex < 0 || v->tempIndex >= gTempNum || step < 0 || step >= gDNum || step >= v->stepCount())
        return;
    const QVector<int>& used = v->tempUsed[step];
    const int n = qMin(gTempNum, used.size());
    if (n < 1)
        return;
    // At most one round: with no slot in use the index stays where it is.
    int slot = v->tempIndex;
    for (int k = 0; k < n; ++k) {
        slot = (slot + dir + n) % n;
        if (used[slot] == 1) {
            v->tempIndex = slot;
            break;
        }
    }
    ShowTemplate(v);
}

void DrawROIWidget::StepPicture(int dir)
{
    CammerWidget* v = currentView();
    const int step = win_ ? EditSession::get().currentDetect() : -1;
    if (!v || v->tempIndex < 0 || v->tempIndex >= gTempNum || step < 0 || step >= gDNum)
        return;
    if (gSource == PictureSource::Live) {
        v->update();
        return;
    }
    if (gSource == PictureSource::RecentNg) {
        v->ngRing().browse(step, dir);
        showRecentNg(v, step);
        shown(v);
        v->update();
        return;
    }
    if (storedCount == 0)
        return;
    if (dir < 0)
        storedIndex = storedIndex <= 0 ? storedCount - 1 : storedIndex - 1;
    else
        storedIndex = storedIndex >= storedCount - 1 ? 0 : storedIndex + 1;
    LoadPic();
    v->update();
}

// ---- Adding templates ---------------------------------------------------------------------

int DrawROIWidget::ChooseTempSlot(int c, int d)
{
    if (!win_ || c < 0 || c >= numCamera || c >= kMaxCamera || !CameraViews::at(c))
        return -1;
    CammerWidget* v = CameraViews::at(c);
    if (d < 0 || d >= v->stepCount() || gTempNum < 1)
        return -1;
    QVector<int>& used = v->tempUsed[d];
    const int n = qMin(gTempNum, used.size());
    if (n < 1)
        return -1;
    if (v->tempCount[d] < gTempNum) {
        for (int k = 0; k < n; ++k) {
            if (used[k] == 0) {
                used[k] = 1;
                ++v->tempCount[d];
                return k;
            }
        }
    }
    // Every slot holds a template: the oldest file other than template0.bmp
    // gives way. Only names of the program's own form count.
    QDir dir(stepFolder(c, d));
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("template*.bmp")}, QDir::Files | QDir::Dirs | QDir::Drives, QDir::Time | QDir::Reversed);
    int slot = -1;
    for (const QFileInfo& f : files) {
        const int k = templateSlotOf(f.fileName());
        if (k < 1 || !f.isFile())
            continue;
        if (k >= n) {
            // A leftover of a larger slot count: removed, the last slot reused.
            if (!QFile::remove(f.absoluteFilePath()))
                qWarning("ROI page: leftover template %s could not be removed", qPrintable(f.absoluteFilePath()));
            slot = n - 1;
        } else {
            slot = k;
        }
        break;
    }
    if (slot < 0)
        slot = n - 1;
    if (slot == 0) {
        qWarning("ROI page: camera %d detection %d has a single template slot; nothing replaced", c + 1, d + 1);
        return -1;
    }
    if (used[slot] == 0) {
        used[slot] = 1;
        ++v->tempCount[d];
    }
    return slot;
}

bool DrawROIWidget::AddTemp(int c, int d, QVector<OverExposure::Region>* overExposed)
{
    if (!win_ || c < 0 || c >= numCamera || c >= kMaxCamera || !CameraViews::at(c))
        return false;
    CammerWidget* v = CameraViews::at(c);
    if (gSource != PictureSource::RecentNg && v->stepOk)
        return false;
    if (d < 0 || d >= v->stepCount())
        return false;
    const uchar* source = nullptr;
    if (gSource == PictureSource::Live) {
        source = v->captureFrame;
    } else {
        const int shown = v->ngRing().shown();
        if (shown < 0 || shown >= v->ngRing().held(d)) {
            qWarning("ROI page: camera %d detection %d has no recent NG picture %d; no template added", c + 1, d + 1,
                     shown + 1);
            return false;
        }
        source = v->recentNgPicture(d, v->ngRing().shown());
    }
    if (!source)
        return false;
    const int slot = ChooseTempSlot(c, d);
    uchar* target = slot < 0 ? nullptr : v->templateSlot(d, slot);
    if (!target)
        return false;
    std::memcpy(target, source, size_t(v->frameBytes));
    writeTemplate(templatePath(c, d, slot), target, v->imageWidth, v->imageHeight);

    if (gSource != PictureSource::Live) {
        retrainPending[c] = true;
        addedPending[c] |= 1u << d;
        return true;
    }
    const int trained = qBound(0, win_->cycle().runStep, kMaxDetect - 1);
    v->retrain(trained);
    v->settleStep(d);
    CycleControl::get().clearNg(c, d, AlarmCode::AddedAsTemplate);
    Databases::get().InsertRecord(lanStr(109).arg(c + 1), QString());
    const QVector<OverExposure::Region> found = OverExposure::regions(*v, trained);
    for (const OverExposure::Region& r : found)
        Databases::get().InsertRecord(OverExposure::recordLine(r), QString());
    if (overExposed)
        *overExposed += found;
    return true;
}

void DrawROIWidget::SlotAddTemp()
{
    if (!win_)
        return;
    const int state = win_->cycle().detectState;
    const int camera = EditSession::get().currentCamera();
    if (state == DetectState::NgLatched && gSource == PictureSource::Live) {
        const bool passed = camera >= 0 && camera < numCamera && CameraViews::at(camera) &&
                            CameraViews::at(camera)->stepOk;
        if (liveWord(Word::AddAllTemplates) == 0 && (camera == numCamera || passed)) {
            warn(lanStr(107));
            return;
        }
        if (!gisSafeDoorOpen && liveWord(Word::SafetyDoorClearsAlarm) != 0) {
            warn(lanStr(195));
            return;
        }
    }
    if (gTempNum < 2) {
        warn(lanStr(258));
        return;
    }
    if (liveWord(Word::AddTemplatePassword) != 0 && CheckPassword() == 0)
        return;
    const int d = (state == DetectState::NgLatched && gSource == PictureSource::Live) ? win_->cycle().runStep
                                                                                       : EditSession::get().currentDetect();
    if (!ask(lanStr(108)))
        return;
    const int shown = EditSession::get().currentCamera();
    if (shown < 0 || shown > numCamera)
        return;
    if (state == DetectState::NgLatched && gSource != PictureSource::Live && gSource != PictureSource::RecentNg)
        return;
    if (state == DetectState::RegionSetting && gSource != PictureSource::RecentNg)
        return;
    if (state != DetectState::NgLatched && state != DetectState::RegionSetting)
        return;
    QStringList added;
    QVector<OverExposure::Region> overExposed;
    for (int c = 0; c < numCamera; ++c)
        if ((shown == numCamera || c == shown) && AddTemp(c, d, &overExposed))
            added << lanStr(109).arg(c + 1).trimmed();
    // The operator sees which cameras took the picture as a template, and
    // which regions it leaves blind.
    if (!overExposed.isEmpty())
        added << OverExposure::noticeText(overExposed);
    if (!added.isEmpty())
        Notice::post(this, added.join(QLatin1Char('\n')));
    if (gSource != PictureSource::RecentNg)
        SlotReCheck();
}

// ---- Deleting templates ---------------------------------------------------------------------

void DrawROIWidget::SlotTempDeleteCur()
{
    CammerWidget* v = currentView();
    if (!v)
        return;
    const int index = v->tempIndex;
    if (index == 0) {
        warn(lanStr(68));
        return;
    }
    if (!ask(lanStr(69)))
        return;
    v = currentView();
    const int step = EditSession::get().currentDetect();
    if (!v || step < 0 || step >= v->stepCount() || index < 1 || index >= v->tempUsed[step].size())
        return;
    if (v->tempUsed[step][index] == 1) {
        v->tempUsed[step][index] = 0;
        v->tempCount[step] = qMax(1, v->tempCount[step] - 1);
    }
    v->ReleaseTemplateSlot(step, index);
    retrainPending[v->cameraIndex] = true;
    QFile::remove(templatePath(v->cameraIndex, step, index));
    SlotTempNext();
    Databases::get().InsertRecord(lanStr(70).arg(v->cameraIndex + 1).arg(index + 1), QString());
}

void DrawROIWidget::SlotTempDeleteAll()
{
    if (!win_)
        return;
    QJsonArray cameras;
    QJsonArray detects;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        if (!v)
            continue;
        const int shown = EditSession::get().currentCamera();
        if (!(liveWord(Word::SampleCamerasSeparately) == 0 || shown == numCamera || c == shown))
            continue;
        for (int d = 0; d < gDNum && d < kMaxDetect; ++d) {
            if (d < v->stepCount()) {
                v->tempCount[d] = 1;
                for (int k = 1; k < v->tempUsed[d].size(); ++k) {
                    v->tempUsed[d][k] = 0;
                    v->ReleaseTemplateSlot(d, k);
                }
            }
            v->tempIndex = 0;
            retrainPending[c] = true;
            QDir dir(stepFolder(c, d));
            const QStringList names = dir.entryList({QStringLiteral("template*")}, QDir::Files);
            for (const QString& name : names) {
                if (name.contains(QStringLiteral("template0.bmp")))
                    continue;
                if (!dir.remove(name))
                    qWarning("ROI page: template %s/%s could not be removed", qPrintable(dir.path()), qPrintable(name));
            }
            cameras.append(c);
            detects.append(d);
        }
    }
    const QJsonObject obj{{QStringLiteral("camera"), cameras}, {QStringLiteral("detect"), detects}};
    MachineOutputs::get().templateListChanged(obj);
    Databases::get().InsertRecord(lanStr(71), QString());
}

// ---- Ignored alarm points ----------------------------------------------------------------------

void DrawROIWidget::SlotShowHideAlarmPoint()
{
    CammerWidget* v = currentView();
    if (!v || v->stepOk) {
        warn(lanStr(107));
        return;
    }
    if (v->blink() == Blink::IgnoredPoints) {
        v->setBlink(Blink::Off);
        alarmPointButton->setText(lanStr(64));
    } else {
        v->setBlink(Blink::IgnoredPoints);
        alarmPointButton->setText(lanStr(112));
    }
    v->update();
}

void DrawROIWidget::SlotIgnoreAlarmPoint()
{
    CammerWidget* v = currentView();
    if (!v || v->stepOk) {
        warn(lanStr(107));
        return;
    }
    if (CheckPassword() == 0)
        return;
    if (!ask(lanStr(113)))
        return;
    const int c = v->cameraIndex;
    Databases::get().InsertRecord(lanStr(114).arg(c + 1), QString());
    const int step = win_->cycle().runStep;
    if (step < 0 || step >= v->stepCount() || !v->ignoreMask[step] || !v->resultImage || !v->savedRecord)
        return;
    uchar* mask = v->ignoreMask[step];
    const int w = v->imageWidth;
    const int h = v->imageHeight;
    const int count = qBound(0, v->savedRecord->roiCount[step], kMaxRoi);
    for (int i = 0; i < count; ++i) {
        if (v->roiPassed[step][i])
            continue;
        if (v->roiArea[step][i] > kMaxIgnoreArea) {
            warn(lanStr(115).arg(kMaxIgnoreArea));
            continue;
        }
        const int boxes = qBound(0, v->defectRects[step][i][0][0], int(CammerWidget::kMaxDefectRects));
        for (int b = 1; b <= boxes; ++b) {
            const int* box = v->defectRects[step][i][b];
            // Boxes reach to their right and bottom edges exclusively.
            const int x0 = qMax(0, box[0]);
            const int y0 = qMax(0, box[1]);
            const int x1 = qMin(w, box[2]);
            const int y1 = qMin(h, box[3]);
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    if (v->resultImage[size_t(y) * w + x] != 0)
                        mask[size_t(y) * w + x] = 255;
        }
    }
    v->update();
    v->SaveIgnorePoint(step);
    v->retrain(step);
}

void DrawROIWidget::SlotDeleteIgnorePoint()
{
    CammerWidget* v = currentView();
    if (!v || v->stepOk) {
        warn(lanStr(107));
        return;
    }
    if (!ask(lanStr(116)))
        return;
    Databases::get().InsertRecord(lanStr(117).arg(v->cameraIndex + 1), QString());
    const int step = win_->cycle().runStep;
    if (step < 0 || step >= v->stepCount() || !v->ignoreMask[step])
        return;
    std::memset(v->ignoreMask[step], 0, size_t(v->pixelCount));
    v->update();
    v->SaveIgnorePoint(step);
    v->retrain(step);
}
