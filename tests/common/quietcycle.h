// A moulding cycle with nothing around it: no cameras, judges, record,
// pictures, reports or screen, and a board that takes the outputs and
// forgets them. For the tests of the board link that need the cycle's own
// record file (its marks of edges on the wire), not its decisions.
#pragma once

#include "cyclestatus.h"
#include "mouldcycle.h"

#include <memory>

struct QuietCycle : CycleBoard, CycleFrames, CycleJudge, CycleLog, CyclePictures, CycleReports, CycleScreen {
    CycleStatus status;
    std::unique_ptr<MouldCycle> cycle;

    // The cycle made, its latch file prepared in the current folder.
    QuietCycle()
    {
        cycle = std::make_unique<MouldCycle>(status, *this, *this, *this, *this, *this, *this, *this);
        cycle->restoreLatchedNg();
    }
    ~QuietCycle() override { cycle.reset(); }

    void setOut(int, int) override {}
    void flashOut() override {}
    void led(int, int) override {}
    bool cameraMissing() override { return false; }
    void countdownStarted(int, qint64) override {}
    bool cameraRunning(int) override { return true; }
    bool freshFrame(int, int, qint64) override { return false; }
    void judge(int, const bool*, Verdict*, QStringList*) override {}
    bool present(int) override { return false; }
    bool verdictOk(int) override { return true; }
    void setVerdict(int, bool) override {}
    void resetVerdicts() override {}
    void cycleOpened() override {}
    void record(const QString&) override {}
    void countersChanged() override {}
    int faultPicture(int, int, int, Picture, int) override { return 0; }
    void newFaultPictures(int, const int*, const int*, int) override {}
    void keepNgPicture(int, int, const QDateTime&) override {}
    void cycleStarted() override {}
    void stepDone(int, bool) override {}
    void alarmStarted(int) override {}
    void alarmCleared(const QVector<QPair<int, int>>&) override {}
    void detectStopped() override {}
    void stepJudged(int) override {}
    void stepDecided(int, bool, bool) override {}
    void owedStepsLater() override {}
    void showJudgedFrames() override {}
};
