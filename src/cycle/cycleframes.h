// The cameras' pictures as the moulding cycle asks for them.
#pragma once

#include "globals.h"

#include <QtGlobal>

class CycleFrames {
public:
    virtual ~CycleFrames() = default;
    // True while some camera of the program gives no pictures at all.
    virtual bool cameraMissing() = 0;
    // The countdown of `step` began for the opening whose edge came at
    // `openingNs` (steady clock; the countdown's start when the edge's time
    // is not known): the step's frames are those that came after it, a
    // frame from before it counts for this step never. Each step has its
    // own mark; another step's countdown leaves it alone.
    virtual void countdownStarted(int step, qint64 openingNs) = 0;
    // Whether camera c has a frame of this opening for `step`: one pulled at
    // `fromNs` (steady clock, the countdown's end) or later, else the newest
    // that came after the step's opening, waited for as long as the camera's
    // frame interval asks, else (a triggered camera) one taken since the
    // countdown began. False: no such frame (camera missing, empty or too
    // old).
    virtual bool freshFrame(int camera, int step, qint64 fromNs) = 0;
    // Whether camera c runs (not lost nor missing): a step it gave no picture
    // for was then too slow for it, not a camera lost.
    virtual bool cameraRunning(int camera) = 0;
    // freshFrame for every camera of `want` (the others are left alone in
    // `fresh`); the cameras may be read at the same time.
    virtual void freshFrames(int step, qint64 fromNs, const bool want[kMaxCamera], bool fresh[kMaxCamera])
    {
        for (int c = 0; c < kMaxCamera; ++c)
            if (want[c])
                fresh[c] = freshFrame(c, step, fromNs);
    }
};
