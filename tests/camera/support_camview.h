// Test helpers for the camera views: a main window with PARAM.db and the
// operation record in a temporary working folder, the system parameters
// loaded, and an in-process camera plug-in that records every call.
#pragma once

#include "camerainterface.h"
#include "testworkdir.h"

#include <QJsonObject>
#include <QPointer>
#include <QStringList>

class StateWindow;

// A camera that records the calls it gets, one text per call.
class RecordingCamera : public CameraInterface {
    Q_OBJECT
public:
    explicit RecordingCamera(int kind) : kind_(kind) {}

    bool open() override;
    void close() override { calls << QStringLiteral("close"); }
    void start() override { calls << QStringLiteral("start"); }
    void stop() override { calls << QStringLiteral("stop"); }
    void lost() override { calls << QStringLiteral("lost"); }
    bool reconnect() override;
    void setting(QJsonObject o) override;
    void setExposeTime(int v) override { calls << QStringLiteral("setExposeTime %1").arg(v); }
    void setAdjustPlus(int v) override { calls << QStringLiteral("setAdjustPlus %1").arg(v); }
    void setSharp(int v) override { calls << QStringLiteral("setSharp %1").arg(v); }
    void setContrast(int v) override { calls << QStringLiteral("setContrast %1").arg(v); }
    void setGamma(int v) override { calls << QStringLiteral("setGamma %1").arg(v); }
    void setWDR(bool on) override { calls << QStringLiteral("setWDR %1").arg(on); }
    void setHMirror(bool on) override { calls << QStringLiteral("setHMirror %1").arg(on); }
    void setVMirror(bool on) override { calls << QStringLiteral("setVMirror %1").arg(on); }
    void setWB() override { calls << QStringLiteral("setWB"); }
    void setColor(bool on) override { colour = on; calls << QStringLiteral("setColor %1").arg(on); }
    void setSpeed(int v) override { calls << QStringLiteral("setSpeed %1").arg(v); }
    void updateROI(QVariant v, int n) override;
    void getFps(int* fps) override { if (fps) *fps = 17; }
    void changeTrigger(bool on) override { calls << QStringLiteral("changeTrigger %1").arg(on); }
    void softTrigger() override { calls << QStringLiteral("softTrigger"); }
    void getSize(int* w, int* h) override { *w = width; *h = height; }
    bool getImage(uchar* buffer) override;
    void restoreDefault(QJsonObject* o, int camera) override;
    int kind() override { return kind_; }

    // Emits the loss signal the way a device thread would: queued.
    void loseDevice();
    int count(const QString& prefix) const;

    QStringList calls;
    QJsonObject lastSetting;
    int width = 64;
    int height = 48;
    bool colour = false;
    bool openResult = true;
    int reconnectFailures = 0;       // attempts that fail before one succeeds
    int reconnectAttempts = 0;
    bool deviceLost = false;
    uchar fill = 0x5A;               // value of every delivered byte
    QJsonObject defaults;            // restoreDefault() replaces the object with it
    void* roiRecord = nullptr;       // the record that updateROI() carried

private:
    int kind_;
};

// Plug-in root "RecordingCamera" listing one camera per serial.
class RecordingPlugin : public CameraInterface {
    Q_OBJECT
public:
    QString name() override { return QStringLiteral("RecordingCamera"); }
    int kind() override { return cameraKind; }
    QVector<_cameraInfo> enumCameras() override;
    CameraInterface* createCamera(_cameraInfo info) override;

    // Set up the next camera before it is created.
    int width = 64;
    int height = 48;
    bool openResult = true;
    int cameraKind = 1;
    QPointer<RecordingCamera> last;
};

// The working folder, PARAM.db on connection "dbIn", RECORD.db, the main
// window as gpState, and gpWPara / gpWParaBak loaded from PARAM.db.
class ViewFixture {
public:
    ViewFixture();
    ~ViewFixture();
    ViewFixture(const ViewFixture&) = delete;
    ViewFixture& operator=(const ViewFixture&) = delete;

    QStringList remarks() const;

    TestWorkDir dir;
    StateWindow* win = nullptr;
};

// Plug-ins registered with the camera manager once per process: our
// simulated camera plug-in (from the build) and the recording plug-in.
CameraInterface* simulatedPlugin();
RecordingPlugin* recordingPlugin();
// The simulated plug-in configured with one camera of that size; its info.
_cameraInfo simulatedCamera(const QJsonObject& faults = QJsonObject(), int width = 64, int height = 48);
_cameraInfo recordingCamera();
