// The editing state the camera views and the ROI page share: how the next
// press on a view draws (shape, copy, free-hand), where the last press fell
// and what the picture read-out shows. The camera library owns and writes
// it; the libraries above only read it. GUI thread only.
#pragma once

class EditSession {
public:
    // The process-wide session.
    static EditSession& get();

    // Back to the state of a freshly opened window: nothing being drawn, no
    // copy pending, no press, no read-out.
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

private:
    EditSession() = default;
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

    int drawMode_ = 0;         // RoiShape (detection): 0 none, 1 rectangle, 2 polygon, 4 circle
    bool copyArea_ = false;    // the next press places a copy
    bool handDraw_ = false;    // polygons are drawn free-hand
    int lastPressX_ = 0;
    int lastPressY_ = 0;
    int pickX_ = 0;            // picture read-out
    int pickY_ = 0;
    int pickValue_ = 0;        // RGBA word for colour cameras
};
