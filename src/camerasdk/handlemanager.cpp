#include "handlemanager.h"

#include "zelcamera.h"

#include <atomic>
#include <mutex>

int HandleManager::handle = 0;
HandleManager* HandleManager::instance = nullptr;

HandleManager::HandleManager(QObject* parent) : QObject(parent)
{
    QMutexLocker lock(&mutex_);
    handle = 0;
}

HandleManager::~HandleManager() = default;

HandleManager* HandleManager::get()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!instance)
            instance = new HandleManager(nullptr);
    });
    return instance;
}

int HandleManager::addHandle(ZelCamera* camera, int& out)
{
    QMutexLocker lock(&mutex_);
    do {
        ++handle;
    } while (handles_.contains(handle));
    out = handle;
    handles_.insert(handle, camera);
    return 0;
}

ZelCamera* HandleManager::getCamera(int h) const
{
    QMutexLocker lock(&mutex_);
    return handles_.value(h, nullptr);
}

int HandleManager::getCamera(ZelCamera*& camera, int h) const
{
    QMutexLocker lock(&mutex_);
    const auto it = handles_.constFind(h);
    if (it == handles_.cend())
        return -1;
    camera = it.value();
    return 0;
}

int HandleManager::deleteHandle(int& h)
{
    ZelCamera* camera = nullptr;
    {
        QMutexLocker lock(&mutex_);
        const auto it = handles_.find(h);
        if (it == handles_.end())
            return -1;
        camera = it.value();
        handles_.erase(it);
    }
    // Outside the lock: the camera's end joins its frame thread, whose
    // callback may still be looking a handle up.
    delete camera;
    h = -1;
    return 0;
}

int HandleManager::deleteHandle(ZelCamera* camera, int& h)
{
    Q_UNUSED(camera)
    return deleteHandle(h);
}
