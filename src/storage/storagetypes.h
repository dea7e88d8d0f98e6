// Registers the storage record types with Qt's meta-type system, under the
// names that queued signals between the disk, statistics and GUI threads use:
// "UPanInfo", "QVector<UPanInfo>", "CountGroup", in this order.
#pragma once

void registerStorageTypes();
