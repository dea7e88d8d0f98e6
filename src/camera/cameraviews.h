// The registry of the camera views and of their fault-picture folders. The
// main window makes the views and fills it at start-up; the camera views, the
// ROI page and the screens above look views up by camera index. A view that
// is destroyed reads as none. GUI thread only.
#pragma once

#include <QDir>

class CammerWidget;

class CameraViews {
public:
    // The view of `camera`; null outside 0 .. kMaxCamera - 1 or while unset.
    static CammerWidget* at(int camera);
    static void set(int camera, CammerWidget* view);

    // The folder of the NG (ok false) or OK (ok true) pictures of `camera`
    // and `step`; QDir() outside the cameras and steps or while unset.
    static QDir pictureFolder(int camera, int step, bool ok);
    static void setPictureFolders(int camera, int step, const QDir& ng, const QDir& ok);

    // Forgets every view and folder (a new main window starts with none).
    static void clear();

    // The program stops: every view's camera is closed, the reconnect
    // attempts under way given up to `waitMs` in all to end (see
    // CammerWidget::closeForStop). Returns the cameras left to an attempt.
    static int closeForStop(int waitMs);
};
