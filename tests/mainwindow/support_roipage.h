// The shared view rig extended to the main window: the ROI tool page with
// its databases, I/O port and button bar, camera views over the rig's
// picture cameras (the test paints the pictures), and scripted answers to
// the modal boxes.
#pragma once

#include "testworkdir.h"
#include "viewrig.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <opencv2/core.hpp>

#include <memory>

class RiVuRevezi;
class CammerWidget;
class DrawROIWidget;
class WizardPara;

namespace pagetest {

constexpr int kWidth = 320;
constexpr int kHeight = 256;
constexpr int kGround = 100;   // grey of the empty scene

// The picture camera i delivers (grey, kWidth x kHeight unless the set-up
// asked for another size); tests paint it.
inline cv::Mat& scene(int camera)
{
    cv::Mat& m = rig::picture(camera);
    if (m.empty())
        m = cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(kGround));
    return m;
}
// A white square of side `side` with its top-left corner at (x, y).
void paintDefect(int camera, int x, int y, int side = 20);
void clearScene(int camera);
// 8-bit indexed BMP with the grey table, as the program writes templates.
bool writeGreyBmp(const QString& path, const cv::Mat& grey);
cv::Mat readGrey(const QString& path);

// Answers the modal boxes that come up, one answer each in order (true:
// OK / yes, false: no / cancel), and records the text of each box. A box
// beyond the answers is refused and counted as unexpected.
class BoxScript : public QObject {
    Q_OBJECT
public:
    explicit BoxScript(QVector<bool> answers = {}, int pollMs = 5);
    ~BoxScript() override;
    void answer(QVector<bool> answers) { answers_ = std::move(answers); }
    QStringList texts;     // box texts in order ("<password>" for the password box)
    int unexpected = 0;

private:
    void poll();
    QVector<bool> answers_;
    QTimer timer_;
};

struct Options {
    int cameras = 1;
    int mode = 0;          // word 175
    int steps = 2;         // gDNum
    int tempNum = 5;       // gTempNum
    int width = kWidth;    // picture size of every camera
    int height = kHeight;
    bool showWindow = false;
};

// One complete set-up in a temporary working folder; everything it makes is
// undone by the destructor.
class RoiEnv {
public:
    explicit RoiEnv(const Options& o = Options());
    ~RoiEnv();
    RoiEnv(const RoiEnv&) = delete;
    RoiEnv& operator=(const RoiEnv&) = delete;

    RiVuRevezi* win = nullptr;
    DrawROIWidget* page = nullptr;
    CammerWidget* view(int c) const;
    int& word(int n);

    // Rows of the operation record, oldest first.
    QStringList records() const;
    int recordCount() const { return records().size(); }
    // The output word as published to the board thread.
    int outputs() const;

    // A rectangle ROI in the edited record of camera c, step g, with its mask,
    // in picture pixels; method and parameters given. Returns its index.
    int addRect(int c, int g, int x, int y, int w, int h, int method = 5, int p1 = 200, int p2 = 50, int p3 = 0);
    // The same into the saved record (and the engine masks), then retrained.
    int addSavedRect(int c, int g, int x, int y, int w, int h, int method = 5, int p1 = 200, int p2 = 50, int p3 = 0);

    // Pulls a frame into every view (as a pass of the cycle does).
    void grab();
    // Runs step k of every camera and the automatic decision, as the end of
    // the step's countdown does.
    void runStep(int k);

    TestWorkDir dir;

private:
    int master_ = -1;
};

}  // namespace pagetest
