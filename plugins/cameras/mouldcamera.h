// One camera of our plug-ins. Frames are rendered ahead on the camera's own
// frame thread, so that getImage() is one copy of a prepared frame. A lost
// device is signalled through the event loop, never from inside getImage().
#pragma once

#include "camerainterface.h"
#include "cameraconfig.h"
#include "scenerenderer.h"

#include <QElapsedTimer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mouldcam {

class MouldCamera : public CameraInterface {
    Q_OBJECT
public:
    MouldCamera(const CameraConfig& config, int kind, const QString& pluginName);
    ~MouldCamera() override;

    bool open() override;
    void close() override;
    void start() override;
    void stop() override;
    void lost() override;
    bool reconnect() override;
    QJsonObject currentSetting(int) override;
    void setting(QJsonObject obj) override;
    void setExposeTime(int v) override;
    void setAdjustPlus(int v) override;
    void setSharp(int v) override;
    void setContrast(int v) override;
    void setGamma(int v) override;
    void setWDR(bool on) override;
    void setHMirror(bool on) override;
    void setVMirror(bool on) override;
    void setWB() override;
    void setColor(bool on) override;
    void setSpeed(int v) override;
    void updateROI(QVariant record, int) override;
    void getFps(int* fps) override;
    void changeTrigger(bool on) override;
    void softTrigger() override;
    void getSize(int* width, int* height) override;
    bool getImage(uchar* buffer) override;
    void restoreDefault(QJsonObject* obj, int index) override;
    QString name() override { return pluginName_; }
    int kind() override { return kind_; }

    // ---- Run-time injection (control socket) -------------------------------
    QString serial() const { return config_.serial; }
    void setScene(Scene scene);
    void setDefects(unsigned defects);
    unsigned defects() const { return state_.defects; }
    // Size scale and contrast share of the injected defects (brought into
    // their ranges).
    void setDefectLook(double size, double contrast);
    double defectSize() const { return state_.defectSize; }
    double defectContrast() const { return state_.defectContrast; }
    Faults& faults() { return faults_; }
    // The device is lost after `frames` further frames (0: never).
    void armLoss(int frames) { faults_.lossAfter = frames; framesSinceLossArmed_ = 0; }
    // An external trigger edge (the replay camera's trigger input).
    void hardwareTrigger();

    // Settings as last set, for inspection.
    int exposure() const { return exposure_; }
    int gain() const { return gain_; }
    bool triggerMode() const { return triggerMode_; }
    bool isLost() const { return lostState_; }

private:
    void startThread();
    void stopThread();
    void frameLoop();
    void stateChanged();  // the prepared frame is out of date
    int bytesPerPixel() const { return colourOut_ ? 4 : 1; }
    void applyBrightness();

    CameraConfig config_;
    int kind_;
    QString pluginName_;
    Faults faults_;

    // GUI-thread state.
    bool colourOut_ = false;
    bool opened_ = false;
    bool started_ = false;
    bool lostState_ = false;
    bool triggerMode_ = false;
    int pendingTriggers_ = 0;
    quint64 calls_ = 0;
    int framesSinceLossArmed_ = 0;
    int exposure_ = 30, gain_ = 32, sharp_ = 0, contrast_ = 50, gamma_ = 70, speed_ = 12;
    bool wdr_ = false;
    int roiUpdates_ = 0;
    quint64 fpsFrames_ = 0;
    QElapsedTimer fpsClock_;

    // Shared with the frame thread under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    bool quit_ = false;
    RenderState state_;
    quint64 generation_ = 0;      // bumped whenever what a frame looks like changes
    quint64 delivered_ = 0;       // frames handed out; the next one has this number
    bool ready_ = false;          // `back_` holds a prepared frame...
    quint64 readyGeneration_ = 0; // ...of this generation
    quint64 readyIndex_ = 0;      // ...and this number
    std::vector<uchar> front_, back_;
    std::unique_ptr<SceneRenderer> renderer_;
};

}  // namespace mouldcam
