#include "viewutil.h"

#include "cameraviews.h"
#include "cammerwidget.h"
#include "editsession.h"
#include "screenchrome.h"
#include "winstate.h"

#include <QWidget>

#include <algorithm>
#include <cmath>

namespace viewutil {

int isqrt(int v)
{
    if (v <= 0)
        return 0;
    int r = static_cast<int>(std::sqrt(static_cast<double>(v)));
    while (static_cast<long long>(r) * r > v)
        --r;
    while (static_cast<long long>(r + 1) * (r + 1) <= v)
        ++r;
    return r;
}

QVector<QRgb> greyTable()
{
    return EditSession::get().grayTable();
}

void updateMScale(int x, int y)
{
    WinState* st = gpState;
    if (!st)
        return;
    EditSession& session = EditSession::get();
    if (session.zoom() > 1.0) {
        double panX = session.panX() + (x - session.lastPressX());
        double panY = session.panY() + (y - session.lastPressY());
        // The picture keeps covering the view: the pan lies between the
        // view size times (1 - zoom) and 0.
        const int c = session.currentCamera();
        CammerWidget* view = (c >= 0 && c < numCamera && c < kMaxCamera) ? CameraViews::at(c) : nullptr;
        const QWidget* window = st->mainWidget;
        const double w = view ? view->width() : window ? window->width() : 0;
        const double h = view ? view->height() : window ? window->height() : 0;
        panX = std::clamp(panX, w * (1.0 - session.zoom()), 0.0);
        panY = std::clamp(panY, h * (1.0 - session.zoom()), 0.0);
        session.setPan(panX, panY);
        ScreenChrome::get().repaint();
        if (view)
            view->update();
    }
    session.setLastPress(x, y);
}

}  // namespace viewutil
