#include "storagestartup.h"

#include "copy2movedisk.h"
#include "diskmanager.h"

void startUsbStorage(int keepDays, int copyOn)
{
    Copy2MoveDisk* copier = Copy2MoveDisk::getInstance();
    copier->keepDays = keepDays;
    copier->setJournal(QStringLiteral("./usbcopy.queue"));
    if (copyOn != 0)
        copier->start();

    if (!DiskManager::_instance) {
        DiskManager::_instance = new DiskManager(nullptr);
        // Straight into the copier from the watcher's thread: the copier
        // guards its list and must not wait for a busy GUI thread.
        QObject::connect(DiskManager::_instance, &DiskManager::diskInfoChange, copier,
                         &Copy2MoveDisk::SlotDiskInfoChange, Qt::DirectConnection);
    }
    DiskManager::_instance->start();
}

void applyUsbCopyWords(int keepDays, int copyOn)
{
    Copy2MoveDisk* copier = Copy2MoveDisk::getInstance();
    copier->keepDays = keepDays;
    if (copyOn != 0)
        copier->start();
    else
        copier->pause();
}

void stopUsbStorage()
{
    if (DiskManager::_instance)
        DiskManager::_instance->stop();
    // The worker writes the names still waiting to its journal as it ends.
    Copy2MoveDisk::getInstance()->stop();
}
