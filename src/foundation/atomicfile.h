// Replacing a file so that a power cut or a full disk never leaves it empty
// or cut short: the content goes to a temporary file in the same folder,
// which is renamed over the old file only when every byte reached the disk.
#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// True when `path` now holds exactly `content`; on any failure the old file
// is left untouched and a warning is logged.
bool writeFileAtomically(const QString& path, const QByteArray& content);
// The same, and the new file gets exactly `permissions` (for example owner
// only, for a file holding pass phrases) before it replaces the old one.
bool writeFileAtomically(const QString& path, const QByteArray& content, QFileDevice::Permissions permissions);
// Forces the folder that holds `path` to disk, so that a file just made or
// renamed there is found after a power cut.
void syncFolderOf(const QString& path);
