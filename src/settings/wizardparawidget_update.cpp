// The settings screen's software update from a USB disk; the package, its
// checks and the swap of the running files are UpdatePackage's.
#include "wizardparawidget.h"

#include "databases.h"
#include "ccomp_dialogframe.h"
#include "diskmanager.h"
#include "globals.h"
#include "lanstr.h"
#include "updatepackage.h"
#include "winstate.h"
#include "operatordialogs.h"

#include <QDir>

namespace {
QVector<UPanInfo> reportedDisks()
{
    return DiskManager::_instance ? DiskManager::_instance->disks() : QVector<UPanInfo>();
}
}  // namespace

void WizardParaWidget::SlotUpdateApp()
{
    QVector<UPanInfo> disks = reportedDisks();
    if (disks.isEmpty()) {
        // The watcher picks a disk up within moments of its insertion.
        if (!OperatorDialogs::get().choose(lanStr(320)))
            return;
        disks = reportedDisks();
        if (disks.isEmpty())
            return;
    }
    const UpdatePackage::Found found = UpdatePackage::find(disks);
    if (!found.isValid()) {
        OperatorDialogs::get().warn(lanStr(UpdatePackage::messageRow(UpdatePackage::NoPackage)));
        return;
    }
    const QString work = QDir::currentPath();
    if (!UpdatePackage::runsFrom(work, UpdatePackage::runningProgram())) {
        OperatorDialogs::get().warn(lanStr(UpdatePackage::messageRow(UpdatePackage::NotLaidOut)));
        return;
    }
    const QString running = QString::fromLatin1(kAppVersion);
    if (!OperatorDialogs::get().choose(lanStr(323) + QStringLiteral("\r\n") + lanStr(693).arg(running, found.version)))
        return;

    // Copying, unpacking, the dry start of the new program and the swap run
    // off the GUI thread, under the wait dialog.
    UpdatePackage update(work);
    UpdatePackage::Result result = UpdatePackage::None;
    CComp_DiaWait wait(
        [&] {
            result = update.prepare(found);
            if (result == UpdatePackage::None)
                result = update.install(running);
        },
        this);
    wait.exec();
    if (result == UpdatePackage::Interrupted) {
        // What blocks every update, for someone to remove.
        OperatorDialogs::get().warn(lanStr(UpdatePackage::messageRow(result)).arg(update.journalPath()));
        return;
    }
    if (result != UpdatePackage::None) {
        OperatorDialogs::get().warn(lanStr(UpdatePackage::messageRow(result)));
        return;
    }
    Databases::get().InsertRecord(lanStr(703).arg(running, found.version));
    endRun(true);
}
