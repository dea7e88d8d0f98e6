// Panning the zoomed camera view with a finger.
#include "rivurevezi.h"

#include "cammerwidget.h"

#include <algorithm>

void RiVuRevezi::updateMScale(int x, int y)
{
    if (zoom > 1.0) {
        panX += x - lastPressX;
        panY += y - lastPressY;
        // The picture keeps covering the view: the pan lies between the
        // view size times (1 - zoom) and 0.
        CammerWidget* view = (currentCamera >= 0 && currentCamera < numCamera && currentCamera < kMaxCamera)
                                 ? cammerWidget[currentCamera]
                                 : nullptr;
        const double w = view ? view->width() : width();
        const double h = view ? view->height() : height();
        panX = std::clamp(panX, w * (1.0 - zoom), 0.0);
        panY = std::clamp(panY, h * (1.0 - zoom), 0.0);
        update();
        if (view)
            view->update();
    }
    lastPressX = x;
    lastPressY = y;
}
