// The camera SDK's boundary: a family of functions over integer handles.
//
// Calling order: ZelCameraSdkInit once; ZelCameraEnumerateDevice into an
// array (its capacity in `count`); ZelCameraInit per record (a handle);
// ZelCameraRegisterImageCallBack; ZelCameraPlay; parameters, HDR, commands,
// pictures; ZelCameraStop; ZelCameraUnInit. Every function returns a
// ZelCameraSdkStatus: 0 success, a negative code below, or the value the
// camera answered for the key just sent.
#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <opencv2/core.hpp>

#include <cstddef>

using ZelCameraSdkStatus = int;
using INT = int;

enum : int {
    ZEL_OK = 0,
    ZEL_NO_IMAGE_LINK = -1,       // the camera's picture link is not up
    ZEL_LINK_DOWN = -2,           // Stop: picture link down; SetHDR, CommonCall: control link down
    ZEL_IN_CALLBACK = -3,         // Stop/UnInit called from inside the frame callback
    ZEL_OPEN_FAILED = -5,         // Init: the control link could not be opened
    ZEL_UNKNOWN_HANDLE = -6,
    ZEL_BAD_ARGUMENT = -7,        // a null pointer or an unusable record
    ZEL_NOT_INITIALISED = -8,     // enumeration or reboot before ZelCameraSdkInit
    ZEL_NOT_CONNECTED = -12,      // a request found no link, or no answer for its key
};

// One camera as the enumeration finds it. Callers pass zero-filled records.
struct tZelCameraDevInfo {
    unsigned char reserved[224];
    char key[32];   // device key; 32 characters have no terminator
    char ip[32];    // dotted IPv4 text; 32 characters have no terminator
    unsigned char tail[4];
};
static_assert(sizeof(tZelCameraDevInfo) == 292, "the device record is 292 bytes");
static_assert(offsetof(tZelCameraDevInfo, key) == 224, "device key at 224");
static_assert(offsetof(tZelCameraDevInfo, ip) == 256, "IP text at 256");

// The texts of a record, read within their 32 bytes.
QString zelDeviceKey(const tZelCameraDevInfo& info);
QString zelDeviceIp(const tZelCameraDevInfo& info);
// Writes the two texts (zeroing both fields first); false when one is longer than 32 bytes.
bool zelSetDeviceTexts(tZelCameraDevInfo& info, const QString& key, const QString& ip);

struct tZelFrameHead;

using ZelImageCallback = void (*)(cv::Mat frame, void* user);
using ZelStatusCallback = void (*)(unsigned int event, unsigned int value, void* user);

// Events of the connection-status callback (first argument); the second is
// the number of the camera's picture-link openings so far.
enum : unsigned int {
    ZEL_EVENT_IMAGE_LINK_UP = 1,
    ZEL_EVENT_IMAGE_LINK_DOWN = 2,
};

ZelCameraSdkStatus ZelCameraSdkInit(int);
ZelCameraSdkStatus ZelCameraEnumerateDevice(tZelCameraDevInfo* list, INT& count);
ZelCameraSdkStatus ZelCameraInit(tZelCameraDevInfo* info, int, int, int& handle);
ZelCameraSdkStatus ZelCameraUnInit(int handle);
ZelCameraSdkStatus ZelCameraPlay(int handle);
ZelCameraSdkStatus ZelCameraStop(int handle);
ZelCameraSdkStatus ZelCameraGetImageBuffer(int handle, cv::Mat& image, QJsonObject& imageHead, unsigned int timeout);
ZelCameraSdkStatus ZelCameraImageProcess(int, unsigned char*, unsigned char*, tZelFrameHead*);
ZelCameraSdkStatus ZelCameraCommonCall(int handle, const char* key, char* buffer, unsigned int value);
ZelCameraSdkStatus ZelCameraSetHDR(int handle, int on);
ZelCameraSdkStatus ZelCameraRegisterImageCallBack(int handle, ZelImageCallback callback, void* user);
ZelCameraSdkStatus ZelCameraRegisterConnectionStatusCallback(int handle, ZelStatusCallback callback, void* user);
ZelCameraSdkStatus ZelCameraRebootProcess(int handle);
ZelCameraSdkStatus ZelCameraGetParams(int handle, QStringList keys, QMap<QString, QVariant>& values, bool detail);
ZelCameraSdkStatus ZelCameraGetParam(int handle, QString key, QVariant& value, bool detail);
ZelCameraSdkStatus ZelCameraSetParams(int handle, QMap<QString, QVariant> values);
ZelCameraSdkStatus ZelCameraSetSharpness(int handle, int value);
ZelCameraSdkStatus ZelCameraSetIspOutFormat(int handle, unsigned int value);
ZelCameraSdkStatus ZelCameraSetAnalogGain(int handle, double value);
ZelCameraSdkStatus ZelCameraSetGamma(int handle, int value);
ZelCameraSdkStatus ZelCameraSetExposureTime(int handle, double value);
ZelCameraSdkStatus ZelCameraSetContrast(int handle, int value);
