// The editing and viewing state the camera views and the ROI page share: how
// the next press on a view draws (shape, copy, free-hand), where the last
// press fell, what the picture read-out shows, which camera and step are
// shown and how far the shown camera is zoomed and panned. The camera library
// owns it; the main window sets the shown camera and the zoom, and installs
// the timers it makes. GUI thread only.
#pragma once

#include "roishape.h"

#include <QPointer>
#include <QRgb>
#include <QTimer>
#include <QVector>

class EditSession {
public:
    // The process-wide session.
    static EditSession& get();

    // Back to the state of a freshly opened window: nothing being drawn, no
    // copy pending, no press, no read-out, the first camera and step shown
    // unzoomed, no timers installed.
    void reset();

    int drawMode() const { return drawMode_; }
    bool copyArea() const { return copyArea_; }
    bool handDraw() const { return handDraw_; }
    int lastPressX() const { return lastPressX_; }
    int lastPressY() const { return lastPressY_; }
    int pickX() const { return pickX_; }
    int pickY() const { return pickY_; }
    int pickValue() const { return pickValue_; }

    void setDrawMode(int mode) { drawMode_ = mode; }
    void setCopyArea(bool on) { copyArea_ = on; }
    void setHandDraw(bool on) { handDraw_ = on; }
    void setLastPress(int x, int y)
    {
        lastPressX_ = x;
        lastPressY_ = y;
    }
    void setPick(int x, int y)
    {
        pickX_ = x;
        pickY_ = y;
    }
    void setPickValue(int value) { pickValue_ = value; }

    // The shown camera: 0 .. numCamera - 1, or numCamera while all cameras
    // are shown tiled.
    int currentCamera() const { return currentCamera_; }
    // The step whose ROIs are shown and edited.
    int currentDetect() const { return currentDetect_; }
    // The shown camera's zoom factor and the pan of its picture in view pixels.
    double zoom() const { return zoom_; }
    double panX() const { return panX_; }
    double panY() const { return panY_; }
    // Started for 3000 ms by the parameter sliders while they show a size hint.
    QTimer* sizeHintTimer() const { return sizeHintTimer_; }
    // Hides the button bar when it runs out; every press on the shown camera's
    // view restarts it at 120000 ms (none installed: no hiding).
    QTimer* buttonBarTimer() const { return buttonBarTimer_; }
    // The colour table of 8-bit pictures: entry i is opaque grey i.
    const QVector<QRgb>& grayTable() const { return grayTable_; }

    void setCurrentCamera(int camera) { currentCamera_ = camera; }
    void setCurrentDetect(int step) { currentDetect_ = step; }
    void setZoom(double zoom) { zoom_ = zoom; }
    void setPan(double x, double y)
    {
        panX_ = x;
        panY_ = y;
    }
    // The timers belong to whoever makes them (the main window); the session
    // forgets a timer that is destroyed.
    void setSizeHintTimer(QTimer* timer) { sizeHintTimer_ = timer; }
    void setButtonBarTimer(QTimer* timer) { buttonBarTimer_ = timer; }

private:
    EditSession();
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

    int drawMode_ = RoiShape::None;   // RoiShape: the shape the next press draws
    bool copyArea_ = false;    // the next press places a copy
    bool handDraw_ = false;    // polygons are drawn free-hand
    int lastPressX_ = 0;
    int lastPressY_ = 0;
    int pickX_ = 0;            // picture read-out
    int pickY_ = 0;
    int pickValue_ = 0;        // RGBA word for colour cameras
    int currentCamera_ = 0;
    int currentDetect_ = 0;
    double zoom_ = 1.0;
    double panX_ = 0.0;
    double panY_ = 0.0;
    QPointer<QTimer> sizeHintTimer_;
    QPointer<QTimer> buttonBarTimer_;
    QVector<QRgb> grayTable_;
};
