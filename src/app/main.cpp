// Process entry: brings the operator program up in its fixed order.
#include "cameraviews.h"
#include "controlport.h"
#include "globals.h"
#include "inplacerecord.h"
#include "lanstr.h"
#include "logmanager.h"
#include "mapplication.h"
#include "mouldcycle.h"
#include "apianswers.h"
#include "network.h"
#include "publictools_widget.h"
#include "rivurevezi.h"
#include "startup.h"
#include "storagestartup.h"
#include "storagetypes.h"
#include "sysword.h"
#include "tcpreactor.h"
#include "camerainterface.h"
#include "updatepackage.h"

#include <QCoreApplication>
#include <QDir>
#include <QPluginLoader>
#include <QProcess>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <csignal>
#include <malloc.h>

namespace {

// "--dry-start": the software update asks a new program this before it
// replaces the running one. Prints "vmm <version>", then loads every camera
// plug-in beside the binary with all symbols resolved and prints "plugin
// <file> ok" or "plugin <file> failed: <why>" for each; exits 0 only when all
// load. It reads nothing of the working folder and writes nothing anywhere.
int dryStart(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("vmm %s\n", kAppVersion);
    int failed = 0;
    QDir dir(QCoreApplication::applicationDirPath());
    if (dir.cd(QStringLiteral("Plugins")) && dir.cd(QStringLiteral("Cameras"))) {
        for (const QString& file : dir.entryList({QStringLiteral("*.so")}, QDir::Files, QDir::Name)) {
            QPluginLoader loader(dir.absoluteFilePath(file));
            loader.setLoadHints(QLibrary::ResolveAllSymbolsHint);
            QString why;
            if (loader.metaData().value(QLatin1String("IID")).toString() != QLatin1String(CAMERA_INTERFACE_IID))
                why = QStringLiteral("not a camera plug-in");
            else if (!loader.load())
                why = loader.errorString();
            if (why.isEmpty()) {
                std::printf("plugin %s ok\n", qPrintable(file));
            } else {
                std::printf("plugin %s failed: %s\n", qPrintable(file), qPrintable(why.simplified()));
                ++failed;
            }
        }
    }
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

// What the stop gives the cameras' reconnect attempts in all (their waits on
// the device already abandoned, they end at once unless a plug-in blocks in
// its own code) before the program ends without them.
constexpr int kStopCameraWaitMs = 3000;

// Nothing at the end waits on a device or a peer: every exchange under way
// is abandoned, no link is made any more, and the cameras close.
void endDeviceWork()
{
    XANC::TcpReactor::abandonPeerWaits();
    if (const int left = CameraViews::closeForStop(kStopCameraWaitMs))
        qWarning("stop: %d camera(s) left to their reconnect attempts", left);
}

// Start-up opens the cameras on the GUI thread, which cannot look at a stop
// while an exchange with a device holds it: this thread abandons every wait
// on a device or a peer as soon as a SIGTERM arrives, so that the opening
// ends at once and start-up reaches its next point that asks for the stop.
class StartupStopWatch {
public:
    StartupStopWatch() : thread_([this] { watch(); }) {}
    ~StartupStopWatch() { end(); }
    void end()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            over_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!over_) {
            if (LogManager::termArrived()) {
                XANC::TcpReactor::abandonPeerWaits();
                return;
            }
            wake_.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    bool over_ = false;
    std::thread thread_;   // last: starts once the rest is made
};

}  // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--dry-start") == 0)
        return dryStart(argc, argv);
    // A service stop may come at any moment of the start-up; it is kept
    // from here on and ends the start-up at its next point that asks.
    LogManager::catchTermEarly();
    // A software update a kill or power cut interrupted is finished or undone
    // before anything of the program (its plug-ins above all) is loaded; only
    // in a working folder, whose program this is.
    if (UpdatePackage::runsFrom(QDir::currentPath(), QStringLiteral("/proc/self/exe")))
        UpdatePackage::recover(QDir::currentPath());
    // Every screen is painted in software: on X11, Qt's GLX integration would
    // only load the OpenGL driver (with Mesa's software one, its compiler:
    // some 60 MB resident) for nothing.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // Pictures of 4 MB and more (the 32-bit fault pictures, their copies for
    // the writer and the encoder) are mapped and given back when freed. With
    // glibc's sliding threshold they would come from the heap after the first
    // one was freed and keep it grown by their size, per thread that made them.
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
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

    StartupStopWatch stopWatch;
    startupUntilMainWindow(hooks);
    if (LogManager::stopPending()) {
        LogManager::stopInStartup("before the main window");
        return 0;
    }
    gpWin = new RiVuRevezi(nullptr);
    // False: a database was restored and the reboot requested, or a stop
    // came before detection started (StartUp logs it).
    if (!gpWin->StartUp()) {
        endDeviceWork();
        return 0;
    }
    // API counter clears that a killed run counted but had not yet written.
    apianswers::writeHeldClears();
    // Test seam: the process ends as by a kill between an NG latched on disk
    // and the outputs that announce it.
    if (qEnvironmentVariableIsSet("VMM_KILL_AFTER_LATCH"))
        gpWin->mould->setAfterLatchWritten([] { ::raise(SIGKILL); });
    // Test seam: ... and as by a kill right after the I/O thread held the
    // first input edge of this run on the wire and marked it on disk, before
    // the cycle's pass could record it.
    if (qEnvironmentVariableIsSet("VMM_KILL_AFTER_EDGE")) {
        MouldCycle* m = gpWin->mould.get();
        setEdgeRecorder([m](int edges, int found, quint64 seq) {
            m->edgeOnWire(edges, found, seq);
            if (edges)
                ::raise(SIGKILL);
        });
    }
    // Test seam: every sync of the latch record takes this much longer, as
    // on a slow disk (no board poll may wait for one).
    if (qEnvironmentVariableIsSet("VMM_SYNC_DELAY_MS")) {
        const int ms = qBound(0, qEnvironmentVariableIntValue("VMM_SYNC_DELAY_MS"), 10000);
        InPlaceRecord::setSyncSeam([ms] { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    }
    startupAfterMainWindow(hooks);
    XAN_NETMN::getInstance()->initStart();
    // The USB picture copier (day folders kept: word 213; on when word 215 is
    // set) and the disk watcher.
    startUsbStorage(sysWord(Word::UsbDaysKept), sysWord(Word::UsbSave));
    if (gpControlIO)
        gpControlIO->InitIOThread();
    gpWin->showFullScreen();
    hooks.progress(100, lanStr(652));
    if (g_splashframe) {
        g_splashframe->close();
        g_splashframe->deleteLater();
        g_splashframe = nullptr;
    }
    // The last point of start-up: a stop that came during it ends the
    // program as a stop in the event loop would have.
    if (LogManager::stopPending()) {
        LogManager::stopInStartup("at the end of start-up");
        endDeviceWork();
        stopUsbStorage();
        return 0;
    }
    stopWatch.end();
    LogManager::startupEnded();
    // A desktop notification; whatever it answers is of no concern.
    QProcess::startDetached(QStringLiteral("notify-send"), {QStringLiteral("监视器已开启")});
    const int rc = QApplication::exec();
    apianswers::writeHeldClears();
    endDeviceWork();
    stopUsbStorage();
    return rc;
}
