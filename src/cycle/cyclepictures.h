// The pictures of the moulding cycle's decisions: the fault pictures each
// camera's judgement leaves (NG in slot 0, OK in slot 1) and the recent NG
// pictures the ROI page browses.
#pragma once

#include <QDateTime>

class CyclePictures {
public:
    virtual ~CyclePictures() = default;
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
};
