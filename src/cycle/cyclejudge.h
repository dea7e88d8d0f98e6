// The verdicts of the cameras as the moulding cycle asks for them: each
// camera holds the verdict of its last judgement (OK or NG) until the next.
#pragma once

#include "globals.h"

#include <QStringList>

class CycleJudge {
public:
    virtual ~CycleJudge() = default;
    enum Verdict { Ng = 0, Ok = 1, Trained = 2 };
    // The cameras of `fresh` judge `step` on their fresh frame (a step
    // without a template takes the frame as its template instead: Trained).
    // The operation-record texts of camera c go to records[c]. The cameras
    // not fresh are left alone.
    virtual void judge(int step, const bool fresh[kMaxCamera], Verdict verdict[kMaxCamera],
                       QStringList records[kMaxCamera]) = 0;
    // Whether camera c exists.
    virtual bool present(int camera) = 0;
    // Camera c's standing verdict (the operator's re-detection changes it).
    virtual bool verdictOk(int camera) = 0;
    // Camera c's verdict set without judging (no picture, a restored NG).
    virtual void setVerdict(int camera, bool ok) = 0;
    // Every camera back to OK, every region passed (a new opening).
    virtual void resetVerdicts() = 0;
    // A cycle opened: nothing is settled by the operator yet.
    virtual void cycleOpened() = 0;
};
