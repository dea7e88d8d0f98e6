// The main window's machine, cameras, engines and listeners as the moulding
// cycle sees them: the I/O board and the panel LEDs, the camera views'
// frames, their engines' verdicts (several cameras judged at once); and the
// four that listen to the cycle, each through its own interface: the
// operation record and count.ini (CycleLog), the camera views' fault and NG
// pictures (CyclePictures), the network reports (CycleReports) and the
// screen's follow-up of a decision (CycleScreen).
#pragma once

#include <functional>

#include "cycleboard.h"
#include "cycleframes.h"
#include "cyclejudge.h"
#include "cyclelog.h"
#include "cyclepictures.h"
#include "cyclereports.h"
#include "cyclescreen.h"
#include "overexposure.h"

#include <QVector>

class CammerWidget;
class RiVuRevezi;

class CycleAdapter : public CycleBoard,
                     public CycleFrames,
                     public CycleJudge,
                     public CycleLog,
                     public CyclePictures,
                     public CycleReports,
                     public CycleScreen {
public:
    explicit CycleAdapter(RiVuRevezi* win) : win_(win) {}

    // CycleBoard
    void setOut(int n, int on) override;
    void flashOut() override;
    void led(int n, int on) override;
    qint64 inputEdgeNs() const override;
    qint64 outputWrittenNs() const override;
    void edgeHolds(const int holds[10]) override;
    bool inputsKnown() const override;
    quint64 edgesTakenSeq() const override;
    PollGaps pollGaps() const override;

    // CycleFrames
    bool cameraMissing() override;
    void countdownStarted(int step, qint64 openingNs) override;
    bool freshFrame(int camera, int step, qint64 fromNs) override;
    bool cameraRunning(int camera) override;
    void freshFrames(int step, qint64 fromNs, const bool want[kMaxCamera], bool fresh[kMaxCamera]) override;

    // CycleJudge
    void judge(int step, const bool fresh[kMaxCamera], Verdict verdict[kMaxCamera],
               QStringList records[kMaxCamera]) override;
    bool present(int camera) override;
    bool verdictOk(int camera) override;
    void setVerdict(int camera, bool ok) override;
    void resetVerdicts() override;
    void cycleOpened() override;

    // CycleLog
    void record(const QString& text) override;
    void countersChanged() override;

    // CyclePictures
    int faultPicture(int camera, int step, int which, Picture what, int code) override;
    void newFaultPictures(int step, const int* cameras, const int* which, int count) override;
    void keepNgPicture(int camera, int step, const QDateTime& when) override;

    // CycleReports
    void cycleStarted() override;
    void stepDone(int step, bool ok) override;
    void alarmStarted(int step) override;
    void alarmCleared(const QVector<QPair<int, int>>& kinds) override;
    void detectStopped() override;

    // CycleScreen
    void stepJudged(int step) override;
    void stepDecided(int step, bool ok, bool manual) override;
    void owedStepsLater() override;
    void showJudgedFrames() override;

private:
    // A step without a template takes camera c's fresh frame as its template.
    bool takeTemplate(int camera, int step);
    // The regions of the camera's freshly trained step that are blind where
    // its template is saturated: a record line each now, the notice when the
    // judged frames are shown.
    void noteOverExposed(int camera, int step, QStringList& records);
    // Runs job(0 .. count-1) on the judging pool (one by one when judging at
    // once is off or there is a single job).
    void atOnce(int count, const std::function<void(int)>& job);
    // Whether the frame camera c's view holds is of `step`'s opening.
    bool frameOfStep(CammerWidget* v, int camera, int step) const;
    // How much longer the cycle waits for a camera's picture of a step
    // whose countdown ended at `fromNs`.
    int pictureWaitMs(CammerWidget* v, qint64 fromNs) const;

    RiVuRevezi* win_;
    // The over-exposed regions of the templates taken since the cycle
    // opened: a Resample trains every step within one cycle, and its notice
    // grows to list them all rather than one notice hiding the last.
    QVector<OverExposure::Region> overExposed_;
    bool overExposedShown_ = true;
};
