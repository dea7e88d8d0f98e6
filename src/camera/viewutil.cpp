#include "viewutil.h"

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
    if (gpState && gpState->grayTable.size() == 256)
        return gpState->grayTable;
    QVector<QRgb> t;
    t.reserve(256);
    for (int i = 0; i < 256; ++i)
        t.append(qRgb(i, i, i));
    return t;
}

void updateMScale(int x, int y)
{
    WinState* st = gpState;
    if (!st)
        return;
    if (st->zoom > 1.0) {
        st->panX += x - EditSession::get().lastPressX();
        st->panY += y - EditSession::get().lastPressY();
        // The picture keeps covering the view: the pan lies between the
        // view size times (1 - zoom) and 0.
        const int c = st->currentCamera;
        CammerWidget* view = (c >= 0 && c < numCamera && c < kMaxCamera) ? st->cammerWidget[c] : nullptr;
        const QWidget* window = st->mainWidget;
        const double w = view ? view->width() : window ? window->width() : 0;
        const double h = view ? view->height() : window ? window->height() : 0;
        st->panX = std::clamp(st->panX, w * (1.0 - st->zoom), 0.0);
        st->panY = std::clamp(st->panY, h * (1.0 - st->zoom), 0.0);
        ScreenChrome::get().repaint();
        if (view)
            view->update();
    }
    EditSession::get().setLastPress(x, y);
}

}  // namespace viewutil
