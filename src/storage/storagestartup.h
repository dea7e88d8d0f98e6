// Start-up of the USB disk handling, right after the network services:
// the copier keeps `keepDays` day folders (system parameter word 213) and
// starts only when `copyOn` (word 215) is non-zero; then the disk watcher is
// created unless it exists, wired to the copier and started. The copier's
// waiting names are kept in ./usbcopy.queue across restarts.
#pragma once

void startUsbStorage(int keepDays, int copyOn);
// The USB copy words changed: the copier keeps `keepDays` day folders and
// takes pictures while `copyOn` is non-zero.
void applyUsbCopyWords(int keepDays, int copyOn);
// At a clean stop: the watcher and the copier end (the waiting names stay
// in the journal).
void stopUsbStorage();
