// The cameras' pictures as the moulding cycle asks for them.
#pragma once

#include "globals.h"

#include <QtGlobal>

class CycleFrames {
public:
    virtual ~CycleFrames() = default;
    // True while some camera of the program gives no pictures at all.
    virtual bool cameraMissing() = 0;
    // The countdown of `step` began: frames from now on are of this opening;
    // one a free-running camera received before it counts for no step.
    virtual void countdownStarted(int step) = 0;
    // Whether camera c has a frame of this opening for `step`: one pulled at
    // `fromNs` (steady clock) or later, else the frame of this moment, else
    // (a triggered camera) one taken since the countdown began. False: no
    // such frame (camera missing, empty or too old).
    virtual bool freshFrame(int camera, int step, qint64 fromNs) = 0;
    // freshFrame for every camera of `want` (the others are left alone in
    // `fresh`); the cameras may be read at the same time.
    virtual void freshFrames(int step, qint64 fromNs, const bool want[kMaxCamera], bool fresh[kMaxCamera])
    {
        for (int c = 0; c < kMaxCamera; ++c)
            if (want[c])
                fresh[c] = freshFrame(c, step, fromNs);
    }
};
