// The fault pictures of the camera views: the judged picture of a step with
// its verdict, regions, defect boxes and values drawn on, in the slot the
// picture thread writes from (gpFailImage, flagged by gisSaveFail, both
// under pMutexSaveFail), and later the line telling how its alarm was
// cleared.
//
// Views of different cameras may draw at the same time on worker threads
// while the GUI thread waits: a drawing reads only the view's buffers and
// record, the language and the safety-door flag, and takes pMutexSaveFail
// for the slot and its flag.
#pragma once

struct CamBuffers;
class CammerSingleton;

class FaultPictures {
public:
    // Draws the fault picture of `step` (which: 1 OK, 0 NG) from the view's
    // judged picture and verdicts with the regions of `rec` (the record the
    // engine judged with), into its slot, and lowers the slot's flag
    // (whoever draws raises it when the picture is to be written). The
    // first failed region is noted for the step (gFailIndex) unless one is.
    // `fullScaleX`, `fullScaleY`: full view / picture.
    static void draw(const CamBuffers& view, const CammerSingleton& rec, int step, int which, float fullScaleX,
                     float fullScaleY);
    // Writes on the held picture of `step` (`which`: 0 NG, 1 OK) how its
    // alarm was cleared, `code` (AlarmCode); returns the code the picture
    // then carries (AlarmCode::afterLabel), or `code` when there is no
    // picture to label.
    static int label(const CamBuffers& view, int step, int which, int code);
    // The step is no longer judged: its pictures go, except one the picture
    // thread has not written yet.
    static void release(int camera, int step);
};
