#include "storagetypes.h"

#include "countgroup.h"
#include "upaninfo.h"

void registerStorageTypes()
{
    qRegisterMetaType<UPanInfo>("UPanInfo");
    qRegisterMetaType<QVector<UPanInfo>>("QVector<UPanInfo>");
    qRegisterMetaType<CountGroup>("CountGroup");
}
