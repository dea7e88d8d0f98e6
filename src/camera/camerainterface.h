// The camera plug-in interface.
//
// Cameras are reached only through plug-ins (shared objects in
// Plugins/Cameras below the program's folder). A plug-in's root object
// implements this interface and answers the listing operations
// (`enumCameras`, `createCamera`, `name`, `kind`); every camera object it
// creates implements the same interface and does the device work. Every call
// comes from the GUI thread (the live view's pull through the optional
// getNewestImage below, which must not wait), but for one: a camera object
// that sets the dynamic property kGrabAnyThread to true may be asked for
// `getImage()` by another thread while the GUI thread waits for that call to
// end (never two calls to one camera at once), so that several cameras are
// read at the same time. A camera object emits `sigCameraLost()` when it
// loses its device; the program connects it with the default connection type.
//
// A plug-in builds this header with its own meta-object code; the program
// finds the interface by its identifier string, so both sides only have to
// agree on the layout declared here.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>

#include <cstring>

#define CAMERA_INTERFACE_IID "com.zel.palvex.camerainterface"

// Dynamic property of a camera object: getImage() may run off the GUI thread.
constexpr const char* kGrabAnyThread = "grabAnyThread";

// Optional operation of a camera object, found by this signature:
//   Q_INVOKABLE bool getNewestImage(uchar* buffer);
// getImage() that never waits for the device: the newest frame not handed
// out yet, or false at once when none has come since the last one. The live
// view pulls through it (on the GUI thread) where a camera offers it; the
// cycle's own pictures keep coming through getImage().
constexpr const char* kNewestImageSignature = "getNewestImage(uchar*)";

// Optional operation of a camera object, found by this signature:
//   Q_INVOKABLE qint64 getImageSince(uchar* buffer, qint64 sinceNs, int waitMs);
// A camera that runs free (whatever the trigger setting) and knows when each
// frame came: the newest frame that came at `sinceNs` (steady clock, ns) or
// later, handed out before or not, waiting up to `waitMs` for one; returns
// the time it came, 0 when none came in time. The cycle takes each step's
// picture through it, by the time of the step's own opening, so that no
// step is judged on a frame from before its opening and none loses the
// frames that came after it. May run off the GUI thread as getImage() does
// (kGrabAnyThread).
constexpr const char* kImageSinceSignature = "getImageSince(uchar*,qint64,int)";

// Optional operation of a camera object, found by this signature:
//   Q_INVOKABLE int frameIntervalMs() const;
// The time between two of its frames as measured when it opened (or came
// back), in ms: the program refuses a camera slower than it can wait for,
// and waits for each step's picture by it.
constexpr const char* kFrameIntervalSignature = "frameIntervalMs()";

// Size of the device block of `_cameraInfo`: the camera's serial number as a
// NUL-terminated string, the rest belongs to the plug-in.
constexpr int kCameraDeviceBytes = 288;

// One camera as a plug-in lists it. Passed by value.
struct _cameraInfo {
    int index = 0;                        // carried, not read by the program
    QString pluginName;                   // selects the plug-in that creates the camera
    char device[kCameraDeviceBytes] = {}; // serial number first, NUL-terminated
    QJsonObject extra;                    // carried, not read by the program
};

// The serial number at the start of the device block, read as UTF-8 and never
// beyond the block, even when the plug-in left no terminating NUL.
inline QString cameraSerial(const _cameraInfo& info)
{
    const void* end = std::memchr(info.device, 0, sizeof(info.device));
    const int len = end ? int(static_cast<const char*>(end) - info.device) : int(sizeof(info.device));
    return QString::fromUtf8(info.device, len);
}

// Stores `serial` as the NUL-terminated start of the device block. Returns
// false (and leaves the block empty) when its UTF-8 form does not fit.
inline bool setCameraSerial(_cameraInfo& info, const QString& serial)
{
    std::memset(info.device, 0, sizeof(info.device));
    const QByteArray utf8 = serial.toUtf8();
    if (utf8.size() >= int(sizeof(info.device)) || utf8.contains('\0'))
        return false;
    std::memcpy(info.device, utf8.constData(), size_t(utf8.size()));
    return true;
}

class CameraInterface : public QObject {
    Q_OBJECT
public:
    explicit CameraInterface(QObject* parent = nullptr) : QObject(parent) {}
    ~CameraInterface() override = default;

    // ---- Device operations (camera objects) -------------------------------
    // true: the camera is usable; only then does the program keep it.
    virtual bool open() { return false; }
    // After stop(), when the program ends; may be called more than once.
    virtual void close() {}
    virtual void start() {}
    virtual void stop() {}
    // Called once per sigCameraLost(), before reconnecting.
    virtual void lost() {}
    // One attempt; true: usable again.
    virtual bool reconnect() { return false; }
    // Called with 0; "ExposureTime" (number) and "Gain" (int) are read when present.
    virtual QJsonObject currentSetting(int) { return QJsonObject(); }
    // All settings at once: "exposetime", "gain", "contrast", "sharp",
    // "gammma" (ints), "WDR", "VMirror", "HMirror", "sysUsage" (bools), "speed" (int).
    virtual void setting(QJsonObject) {}
    virtual void setExposeTime(int) {}
    virtual void setAdjustPlus(int) {}
    virtual void setSharp(int) {}
    virtual void setContrast(int) {}
    virtual void setGamma(int) {}
    virtual void setWDR(bool) {}
    virtual void setHMirror(bool) {}
    virtual void setVMirror(bool) {}
    // One white-balance step (colour cameras only).
    virtual void setWB() {}
    // Before open(): true gives frames of 4 bytes per pixel (32-bit RGB), else 1 (grey).
    virtual void setColor(bool) {}
    virtual void setSpeed(int) {}
    // The view's saved parameter record ("CammerSingleton *") and 0.
    virtual void updateROI(QVariant, int) {}
    virtual void getFps(int* fps) { if (fps) *fps = 0; }
    virtual void changeTrigger(bool) {}
    // Software trigger; the program sends it only to cameras of kind 0.
    virtual void softTrigger() {}
    // Width and height in pixels; read once after open().
    virtual void getSize(int* width, int* height) { if (width) *width = 0; if (height) *height = 0; }
    // One frame (width x height x bytes per pixel) into the buffer; true: a frame came.
    virtual bool getImage(uchar*) { return false; }
    // Overwrites "exposeTime", "adjustPlus", "sharp", "contrast", "gamma",
    // "speed" (ints) with the camera's defaults; the object also carries
    // "isHMirror", "isVMirror", "sysUsage", "isWDR".
    virtual void restoreDefault(QJsonObject*, int) {}

    // ---- Listing operations (plug-in root object) -----------------------
    virtual QString name() { return QString(); }
    virtual QVector<_cameraInfo> enumCameras() { return {}; }
    // An unopened camera object owned by the caller; null when impossible.
    virtual CameraInterface* createCamera(_cameraInfo) { return nullptr; }

    // 0: simulated camera; anything else: physical.
    virtual int kind() { return 0; }

signals:
    void sigCameraLost();
};

// The camera object a view owns.
using PluginCamera = CameraInterface;

Q_DECLARE_INTERFACE(CameraInterface, CAMERA_INTERFACE_IID)
Q_DECLARE_METATYPE(_cameraInfo)
