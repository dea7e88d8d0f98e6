// Start-up of the USB disk handling, right after the network services:
// the copier keeps `keepDays` day folders (system parameter word 213) and
// starts only when `copyOn` (word 215) is non-zero; then the disk watcher is
// created unless it exists, wired to the copier and started.
#pragma once

void startUsbStorage(int keepDays, int copyOn);
