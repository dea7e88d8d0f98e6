// The recent NG pictures of one camera view: per detection step a ring of
// the last ten judged pictures that were NG, each with the time of its
// decision, and which of them the ROI page shows.
//
// A picture is allocated (zeroed) when first used and kept until its step
// is given back; the ring overwrites its oldest picture. GUI thread only.
#pragma once

#include "globals.h"

#include <QString>
#include <QtGlobal>

#include <memory>

class NgPictureRing {
public:
    static constexpr int kPictures = 10;

    NgPictureRing() = default;
    NgPictureRing(const NgPictureRing&) = delete;
    NgPictureRing& operator=(const NgPictureRing&) = delete;

    // Picture `slot` of `step`, `bytes` long, allocated zeroed on first use;
    // null for a step or slot outside the ring or no bytes.
    uchar* picture(int step, int slot, int bytes);
    // The same picture when one was made, else null; never allocates.
    const uchar* recent(int step, int slot) const;
    // A copy of `frame` (`bytes` long) becomes the newest picture of `step`,
    // captioned with `caption`; false when it could not be kept.
    bool keep(int step, const uchar* frame, int bytes, const QString& caption);
    // The step gives back its pictures and starts counting again.
    void release(int step);

    // Pictures written to `step` so far (the newest is in slot count mod 10).
    int count(int step) const { return inStep(step) ? written[step] : 0; }
    // Pictures the ring of `step` holds (at most kPictures).
    int held(int step) const { return qMin(count(step), kPictures); }
    QString caption(int step, int slot) const;

    // The picture the ROI page shows.
    int shown() const { return shownIndex; }
    void show(int index) { shownIndex = index; }
    // The page's previous (dir < 0) or next picture of `step`, wrapping
    // round the pictures held; the first while the ring holds none.
    void browse(int step, int dir);

private:
    static bool inStep(int step) { return step >= 0 && step < kMaxDetect; }
    static bool inRing(int step, int slot) { return inStep(step) && slot >= 0 && slot < kPictures; }

    std::unique_ptr<uchar[]> pictures[kMaxDetect][kPictures];
    QString captions[kMaxDetect][kPictures];
    int written[kMaxDetect] = {};
    int shownIndex = 0;
};
