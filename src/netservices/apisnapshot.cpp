#include "apisnapshot.h"

#include "statewords.h"

#include "productioncounters.h"

#include <QAbstractEventDispatcher>
#include <QMutex>
#include <QThread>

#include <atomic>

namespace {

std::shared_ptr<const ApiSnapshot> gPublished;  // std::atomic_load/_store only
QMutex gHooksMutex;
QList<QThread*> gHookedThreads;
std::atomic<XAN_NETMN*> gManager{nullptr};

}  // namespace

ApiSnapshot ApiSnapshot::capture(XAN_NETMN* manager)
{
    ApiSnapshot s;
    s.cameraCount = numCamera;
    s.stepCount = gDNum;
    s.deviceSn = gDeviceID;
    s.runWord = runStatusWord();
    s.detectWord = detectStatusWord();
    const CounterValues& counters = ProductionCounters::get().values();
    s.all = counters.all;
    s.fail = counters.fail;
    s.allCycle = counters.allCycle;
    s.syncNg = counters.syncNg;
    s.syncNgCycle = counters.syncNgCycle;
    if (manager) {
        s.deviceName = manager->deviceName;
        // The version first: a change that lands between the two reads is
        // seen again by the next publication.
        s.recordVersion = manager->recordVersion.load();
        s.hasRecord = manager->lastDetect.tryGetValue(&s.record);
        s.hasClosed = manager->lastClosed.tryGetValue(&s.closed);
    }
    return s;
}

bool ApiSnapshot::sameAs(const ApiSnapshot& o) const
{
    return cameraCount == o.cameraCount && stepCount == o.stepCount && runWord == o.runWord
        && detectWord == o.detectWord && all == o.all && fail == o.fail && allCycle == o.allCycle
        && syncNg == o.syncNg && syncNgCycle == o.syncNgCycle && recordVersion == o.recordVersion
        && deviceSn == o.deviceSn && deviceName == o.deviceName;
}

std::shared_ptr<const ApiSnapshot> ApiSnapshot::current()
{
    return std::atomic_load(&gPublished);
}

void ApiSnapshot::publish()
{
    XAN_NETMN* manager = gManager.load();
    const std::shared_ptr<const ApiSnapshot> old = current();
    if (old) {
        // Cheap test before any copy of the record.
        ApiSnapshot probe = capture(nullptr);
        if (manager) {
            probe.deviceName = manager->deviceName;
            probe.recordVersion = manager->recordVersion.load();
        }
        if (probe.sameAs(*old))
            return;
    }
    std::atomic_store(&gPublished, std::shared_ptr<const ApiSnapshot>(std::make_shared<ApiSnapshot>(capture(manager))));
}

void ApiSnapshot::publishOnIdle()
{
    QThread* thread = QThread::currentThread();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread);
    if (!dispatcher)
        return;
    {
        QMutexLocker lock(&gHooksMutex);
        if (gHookedThreads.contains(thread))
            return;
        gHookedThreads.append(thread);
    }
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [] { publish(); },
                     Qt::DirectConnection);
    QObject::connect(thread, &QThread::finished, dispatcher, [thread] {
        QMutexLocker lock(&gHooksMutex);
        gHookedThreads.removeAll(thread);
    }, Qt::DirectConnection);
    publish();
}

void ApiSnapshot::reset()
{
    std::atomic_store(&gPublished, std::shared_ptr<const ApiSnapshot>());
}

void ApiSnapshot::setManager(XAN_NETMN* manager)
{
    gManager.store(manager);
}

void ApiSnapshot::dropManager(XAN_NETMN* manager)
{
    XAN_NETMN* expected = manager;
    if (gManager.compare_exchange_strong(expected, nullptr))
        reset();
}
