#include "zelCameraApi.h"

#include "handlemanager.h"
#include "udp_acam_gvcp.h"
#include "zelcamera.h"

#include <QDebug>
#include <QMutex>

#include <algorithm>
#include <cstring>

namespace {

QMutex gSdkMutex;
UDP_ACam_Client* ACam_Client = nullptr;

UDP_ACam_Client* discoveryClient()
{
    QMutexLocker lock(&gSdkMutex);
    return ACam_Client;
}

QString fixedText(const char* field, int width)
{
    const void* end = std::memchr(field, 0, size_t(width));
    const int n = end ? int(static_cast<const char*>(end) - field) : width;
    return QString::fromLatin1(field, n);
}

ZelCamera* cameraOf(int handle)
{
    return HandleManager::get()->getCamera(handle);
}

int setOne(int handle, const char* key, const QVariant& value, bool answer)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    const QString k = QString::fromLatin1(key);
    const QMap<QString, QVariant> reply = camera->requestSetParams({{k, value}});
    if (!answer)
        return ZEL_OK;
    // No word on the parameter is no answer, not a success.
    return reply.contains(k) ? reply.value(k).toInt() : ZEL_NOT_CONNECTED;
}

}  // namespace

QString zelDeviceKey(const tZelCameraDevInfo& info)
{
    return fixedText(info.key, int(sizeof(info.key)));
}

QString zelDeviceIp(const tZelCameraDevInfo& info)
{
    return fixedText(info.ip, int(sizeof(info.ip)));
}

bool zelSetDeviceTexts(tZelCameraDevInfo& info, const QString& key, const QString& ip)
{
    const QByteArray k = key.toLatin1();
    const QByteArray a = ip.toLatin1();
    if (k.size() > int(sizeof(info.key)) || a.size() > int(sizeof(info.ip)))
        return false;
    std::memset(info.key, 0, sizeof(info.key));
    std::memset(info.ip, 0, sizeof(info.ip));
    std::memcpy(info.key, k.constData(), size_t(k.size()));
    std::memcpy(info.ip, a.constData(), size_t(a.size()));
    return true;
}

ZelCameraSdkStatus ZelCameraSdkInit(int)
{
    qInfo("ZelCameraSdkInit sdkinit");
    QMutexLocker lock(&gSdkMutex);
    if (!ACam_Client)  // a second init keeps the first client
        ACam_Client = new UDP_ACam_Client(nullptr);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraEnumerateDevice(tZelCameraDevInfo* list, INT& count)
{
    const int capacity = count;
    UDP_ACam_Client* client = discoveryClient();
    if (!client)
        return ZEL_NOT_INITIALISED;
    if (!list || capacity < 0)
        return ZEL_BAD_ARGUMENT;
    client->findCamera();
    client->ActForceIP();
    count = 0;
    const QMap<QString, gvcp_discover_ack_payload> found = client->cameraMap();
    int seen = 0;
    for (auto it = found.constBegin(); it != found.constEnd(); ++it, ++seen) {
        const gvcp_discover_ack_payload& p = it.value();
        const QString ip = gvcp::addressText(p.ip);
        const QString second = gvcp::addressText(p.netmask);
        qDebug() << "found camera:" << it.key() << ip << second;
        if (count >= capacity)
            continue;  // counted in the log only: the array is full
        tZelCameraDevInfo& rec = list[count];
        std::memset(rec.key, 0, sizeof(rec.key));
        std::memset(rec.ip, 0, sizeof(rec.ip));
        const QByteArray a = ip.toLatin1();
        std::memcpy(rec.ip, a.constData(), std::min<size_t>(size_t(a.size()), sizeof(rec.ip)));
        static_assert(sizeof(p.device_key) == sizeof(rec.key), "the device key is 32 bytes");
        std::memcpy(rec.key, p.device_key, sizeof(rec.key));
        ++count;
    }
    if (seen > capacity)
        qWarning("ZelCameraEnumerateDevice: %d cameras found, room for %d", seen, capacity);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraInit(tZelCameraDevInfo* info, int, int, int& handle)
{
    if (!info)
        return ZEL_BAD_ARGUMENT;
    auto* camera = new ZelCamera(info);
    if (!camera->controlLinkUp()) {
        delete camera;
        return ZEL_OPEN_FAILED;
    }
    HandleManager::get()->addHandle(camera, handle);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraUnInit(int handle)
{
    ZelCamera* camera = cameraOf(handle);
    if (camera && camera->onFrameThread())
        return ZEL_IN_CALLBACK;
    HandleManager::get()->deleteHandle(handle);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraPlay(int handle)
{
    ZelCamera* camera = cameraOf(handle);
    return camera ? camera->start() : ZEL_UNKNOWN_HANDLE;
}

ZelCameraSdkStatus ZelCameraStop(int handle)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    if (camera->onFrameThread())
        return ZEL_IN_CALLBACK;
    return camera->stop();
}

ZelCameraSdkStatus ZelCameraGetImageBuffer(int handle, cv::Mat& image, QJsonObject& imageHead, unsigned int timeout)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    return camera->requestImage(image, imageHead, int(std::min<unsigned int>(timeout, 60000)));
}

ZelCameraSdkStatus ZelCameraImageProcess(int, unsigned char*, unsigned char*, tZelFrameHead*)
{
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraCommonCall(int handle, const char* key, char* buffer, unsigned int value)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    if (!key)
        return ZEL_BAD_ARGUMENT;
    return camera->commonCall(key, buffer, value);
}

ZelCameraSdkStatus ZelCameraSetHDR(int handle, int on)
{
    ZelCamera* camera = cameraOf(handle);
    return camera ? camera->setHDR(on != 0) : ZEL_UNKNOWN_HANDLE;
}

ZelCameraSdkStatus ZelCameraRegisterImageCallBack(int handle, ZelImageCallback callback, void* user)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    camera->setImageCallback(callback, user);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraRegisterConnectionStatusCallback(int handle, ZelStatusCallback callback, void* user)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    camera->setStatusCallback(callback, user);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraRebootProcess(int handle)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    UDP_ACam_Client* client = discoveryClient();
    if (!client)
        return ZEL_NOT_INITIALISED;
    client->ActRebootDaemon(camera->deviceKey());
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraGetParams(int handle, QStringList keys, QMap<QString, QVariant>& values, bool detail)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    camera->requestGetParams(keys, values, detail);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraGetParam(int handle, QString key, QVariant& value, bool detail)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    QMap<QString, QVariant> values;
    camera->requestGetParams({key}, values, detail);
    if (values.contains(key))
        value = values.take(key);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraSetParams(int handle, QMap<QString, QVariant> values)
{
    ZelCamera* camera = cameraOf(handle);
    if (!camera)
        return ZEL_UNKNOWN_HANDLE;
    camera->requestSetParams(values);
    return ZEL_OK;
}

ZelCameraSdkStatus ZelCameraSetSharpness(int handle, int value)
{
    return setOne(handle, "sharp", value, true);
}

ZelCameraSdkStatus ZelCameraSetIspOutFormat(int handle, unsigned int value)
{
    return setOne(handle, "ispOutFormat", value, false);
}

ZelCameraSdkStatus ZelCameraSetAnalogGain(int handle, double value)
{
    return setOne(handle, "gain", value, true);
}

ZelCameraSdkStatus ZelCameraSetGamma(int handle, int value)
{
    return setOne(handle, "gamma", value, true);
}

ZelCameraSdkStatus ZelCameraSetExposureTime(int handle, double value)
{
    return setOne(handle, "exposure", value, true);
}

ZelCameraSdkStatus ZelCameraSetContrast(int handle, int value)
{
    return setOne(handle, "contrast", value, true);
}
