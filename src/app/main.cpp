// Process entry: brings the operator program up in its fixed order.
#include "controlport.h"
#include "globals.h"
#include "lanstr.h"
#include "mapplication.h"
#include "network.h"
#include "publictools_widget.h"
#include "rivurevezi.h"
#include "startup.h"
#include "storagestartup.h"
#include "storagetypes.h"
#include "sysword.h"

#include <QProcess>

#include <memory>

#include <csignal>

int main(int argc, char* argv[])
{
    std::unique_ptr<MApplication> app;
    StartupHooks hooks;
    hooks.registerTypes = registerStorageTypes;
    hooks.createApplication = [&] {
        if (!QCoreApplication::instance())
            app = std::make_unique<MApplication>(argc, argv);
        installFontSubstitutions();
    };
    hooks.createSplash = [] {
        g_splashframe = new SplashFrame;
        g_splashframe->show();
    };
    hooks.fillTexts = [] { initLanStr(); };
    hooks.progress = [](int value, const QString& text) {
        qInfo("start-up %d%% %s", value, qPrintable(text));
        if (g_splashframe)
            g_splashframe->flushstep(value, text);
    };

    startupUntilMainWindow(hooks);
    gpWin = new RiVuRevezi(nullptr);
    if (!gpWin->StartUp())
        return 0;  // a database was restored; the reboot has been requested
    // Test seam: the process ends as by a kill between an NG latched on disk
    // and the outputs that announce it.
    if (qEnvironmentVariableIsSet("VMM_KILL_AFTER_LATCH"))
        gpWin->afterLatchWritten = [] { ::raise(SIGKILL); };
    startupAfterMainWindow(hooks);
    XAN_NETMN::getInstance()->initStart();
    // The USB picture copier (day folders kept: word 213; on when word 215 is
    // set) and the disk watcher.
    startUsbStorage(sysWord(213), sysWord(215));
    if (gpControlIO)
        gpControlIO->InitIOThread();
    gpWin->showFullScreen();
    hooks.progress(100, lanStr(652));
    if (g_splashframe) {
        g_splashframe->close();
        g_splashframe->deleteLater();
        g_splashframe = nullptr;
    }
    // A desktop notification; whatever it answers is of no concern.
    QProcess::startDetached(QStringLiteral("notify-send"), {QStringLiteral("监视器已开启")});
    const int rc = QApplication::exec();
    stopUsbStorage();
    return rc;
}
