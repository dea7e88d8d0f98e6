// What the moulding cycle leaves behind and reports: the operation record,
// the counters' file, the pictures, the reports to the network services and
// the screen's follow-up of a decision.
#pragma once

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>

class CycleRecord {
public:
    virtual ~CycleRecord() = default;
    // One row of the operation record.
    virtual void record(const QString& text) = 0;
    // The counters changed: count.ini is written.
    virtual void countersChanged() = 0;
    // What the fault picture of a camera's decided step becomes.
    enum Picture {
        SaveNew,       // the picture of this judgement (slot `which`)
        LabelHeld,     // the held NG picture, labelled with how it was cleared
        SaveLabelled,  // judged again: the new picture, labelled as it passed
    };
    // Renders the fault picture of camera c and step s; returns the result
    // code the labelled picture leaves (`code` when nothing was labelled).
    virtual int faultPicture(int camera, int step, int which, Picture what, int code) = 0;
    // Renders the new fault pictures of one judgement of step s, camera
    // cameras[i] into slot which[i], all at once (the cameras' pictures are
    // independent); each then waits to be written.
    virtual void newFaultPictures(int step, const int* cameras, const int* which, int count) = 0;
    // Keeps camera c's NG picture of step s in the ring the ROI page browses,
    // captioned with `when` (one time for every camera of a decision).
    virtual void keepNgPicture(int camera, int step, const QDateTime& when) = 0;
    // Reports of the cycle (network services): the cycle opened, a step
    // decided, an alarm raised, an alarm cleared ({camera, how}), detection
    // stopped.
    virtual void cycleStarted() = 0;
    virtual void stepDone(int step, bool ok) = 0;
    virtual void alarmStarted(int step) = 0;
    virtual void alarmCleared(const QVector<QPair<int, int>>& kinds) = 0;
    virtual void detectStopped() = 0;
    // The screen after a judgement, before its decision (training may open
    // region setting); after a decision (the NG page, the camera alarm, the
    // screen light, repaint); and the owed steps to judge once the
    // operator's decision has returned.
    virtual void stepJudged(int step) = 0;
    virtual void stepDecided(int step, bool ok, bool manual) = 0;
    virtual void owedStepsLater() = 0;
    // After the record of a judged step: the screen shows the judged frames.
    virtual void showJudgedFrames() = 0;
};
