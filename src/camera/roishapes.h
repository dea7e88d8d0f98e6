// What the camera view does to a region without knowing its shape, looked
// up by the region's shape (RoiShape, CammerSingleton::kind): one entry per
// shape, and none for a slot without a shape.
#pragma once

#include "roishape.h"

#include <QPoint>
#include <QRect>

#include <opencv2/core.hpp>

class CammerSingleton;

class RoiShapes {
public:
    struct Ops {
        int shape;
        // Picture rectangle of the region.
        QRect (*imageRect)(const CammerSingleton& rec, int step, int i);
        bool (*selected)(const CammerSingleton& rec, int step, int i);
        void (*select)(CammerSingleton& rec, int step, int i, bool on);
        // Whether the full-view point lies inside the region.
        bool (*contains)(const CammerSingleton& rec, int step, int i, QPoint p);
        // Handle hit test; only a selected region answers. The shape keeps
        // the handle it was pressed on, and so does *handle when given.
        bool (*onHandle)(CammerSingleton& rec, int step, int i, QPoint p, int* handle);
        // The same test on a copy: looking changes nothing.
        bool (*touchesHandle)(const CammerSingleton& rec, int step, int i, QPoint p);
        // The view scale applied and the picture rectangle renewed; returns
        // the region's new mask.
        cv::Mat (*renew)(CammerSingleton& rec, int step, int i, float sx, float sy);
        // The full-view point the region's label hangs from; false when the
        // region has none (a polygon without points).
        bool (*labelCorner)(const CammerSingleton& rec, int step, int i, QPoint* corner);
        // The parts the panel's step buttons can pick (corners, radii and
        // centre, or points).
        int (*objects)(const CammerSingleton& rec, int step, int i);
        // Moves the region by d in the full view (gShowW x gShowH): a
        // rectangle or circle is kept inside it at its size; a polygon that
        // would come within 3 pixels of its edge is not moved (false).
        bool (*moveBy)(CammerSingleton& rec, int step, int i, QPoint d);
    };

    // The entry of shape `kind`; null for a slot without a shape.
    static const Ops* of(int kind);
    // The entry of region i of `step` in `rec`; null outside the record.
    static const Ops* of(const CammerSingleton& rec, int step, int i);
};
