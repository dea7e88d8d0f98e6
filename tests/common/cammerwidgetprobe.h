// The camera view's test seam: puts a view into a state its operations
// cannot reach (a scripted camera object in place of the plug-in's).
// Tests only; the program never includes it.
#pragma once

#include "cammerwidget.h"

struct CammerWidgetProbe {
    // The view owns `camera` from now on and counts it as opened; the camera
    // it had is deleted.
    static void replaceCamera(CammerWidget& v, PluginCamera* camera)
    {
        delete v.camera_;
        v.camera_ = camera;
        v.opened = true;
    }
};
