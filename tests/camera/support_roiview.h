// Test helpers for the camera view's ROI editing, overlay and panel: a camera
// that shows a fixed picture, a main window with one view on it, scripted
// boxes, a hand-set clock, an emulation of the ROI tool page's drawing
// buttons, and gestures sent through the window.
#pragma once

#include "camerainterface.h"
#include "testworkdir.h"

#include <QImage>
#include <QPoint>
#include <QStringList>
#include <QVector>

#include <memory>

class CammerWidget;
class StateWindow;
class CammerSingleton;

namespace roitest {

// A camera of kind 0 that opens and hands out a fixed grey or colour picture.
class PictureCamera : public CameraInterface {
    Q_OBJECT
public:
    PictureCamera(int w, int h) : w_(w), h_(h) {}
    bool open() override { return true; }
    int kind() override { return 0; }
    void getSize(int* w, int* h) override
    {
        if (w)
            *w = w_;
        if (h)
            *h = h_;
    }
    bool getImage(uchar* out) override;
    uchar grey = 100;

private:
    int w_;
    int h_;
};

class PicturePlugin : public CameraInterface {
    Q_OBJECT
public:
    PicturePlugin(int w, int h) : w_(w), h_(h) {}
    QString name() override { return QStringLiteral("roitest"); }
    CameraInterface* createCamera(_cameraInfo) override { return new PictureCamera(w_, h_); }

private:
    int w_;
    int h_;
};

struct Options {
    int camW = 320;
    int camH = 256;
    int showW = 1280;
    int showH = 1024;
    bool colour = false;
    int steps = 2;          // gDNum
    bool train = false;     // the engine trains every step (previews work)
};

// One main window with one camera view filling it, in a temporary working
// folder. The page's drawing buttons are emulated the way they behave with
// tap drawing on: a double press ends the shape (polygons are stored).
class ViewEnv {
public:
    explicit ViewEnv(const Options& o = Options());
    ~ViewEnv();

    TestWorkDir wd;
    StateWindow* win = nullptr;
    CammerWidget* view = nullptr;
    PicturePlugin* plugin = nullptr;
    qint64 now = 1000000;          // the views' clock
    QStringList warnings;          // texts of the warning boxes shown
    QStringList questions;         // texts of the choice boxes shown
    QVector<bool> answers;         // answers given in order; "no" when used up
    int startPolygonCalls = 0;
    int endCalls[5] = {};          // double presses per draw mode (1, 2 clicked, 3 hand, 4)

    int& word(int n);
    CammerSingleton& edit();
    CammerSingleton& saved();
    int count(int step = 0);

    // Gestures in widget coordinates, through the window. Every press first
    // moves the clock by `gapMs`.
    void press(QPoint p, qint64 gapMs = 1000);
    void move(QPoint p);
    void release(QPoint p);
    void tap(QPoint p, qint64 gapMs = 1000);
    // Press at a, `steps` moves evenly to b, release at b.
    void drag(QPoint a, QPoint b, int steps = 4);

    // Adds a rectangle ROI (full-view corners) to the step of the edited copy
    // with its mask, as drawing would.
    int addRect(int step, QRect r, int method = 0, int p1 = 45, int p2 = 100, int p3 = 3);
    int addPolygon(int step, const QVector<QPoint>& pts, int method = 0);
    int addCircle(int step, QPoint centre, int r, int method = 0);
    // The whole view painted into a picture of its size.
    QImage paint();
};

// Every rule that must hold whatever a finger did: at most 100 ROIs, shapes
// inside the view, masks the size of the picture rectangles, the drawn
// polygon's point count within 0..8096, the current ROI valid or -1. Empty
// when all hold, else what broke.
QString checkInvariants(const CammerWidget& view, int step);

}  // namespace roitest
