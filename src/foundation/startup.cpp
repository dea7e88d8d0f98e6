#include "startup.h"

#include "globals.h"
#include "logmanager.h"
#include "platform.h"
#include "publictools.h"
#include "skinpictures.h"

#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QMetaType>
#include <QPair>
#include <QPixmap>
#include <QTextCodec>

namespace {

void report(const StartupHooks& hooks, int value, const QString& text)
{
    if (hooks.progress)
        hooks.progress(value, text);
}

void call(const std::function<void()>& hook)
{
    if (hook)
        hook();
}

// A service stop must not wait out the seconds given to the network and the
// cameras: asked before each of them.
bool stopAsked(const StartupHooks& hooks)
{
    return hooks.stopRequested ? hooks.stopRequested() : LogManager::stopPending();
}

void loadInto(QPixmap*& slot, const char* name)
{
    const QString path = QStringLiteral("./images/") + QString::fromLatin1(name);
    if (!slot)
        slot = new QPixmap;
    if (!slot->load(path)) {
        *slot = QPixmap();
        qWarning("skin picture %s is missing", qPrintable(path));
    }
}

}  // namespace

void readKernelVersion(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    QByteArray text = f.readAll();
    const int nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    linux_kernel_proc_version = QString::fromUtf8(text);
}

void loadSkinPictures()
{
    QPixmap** const targets[kSkinPictureCount] = {
        &gpPixmapLogo,     &gpPixmapBG,       &gpPixmapTitle,    &gpPixmapLine,     &gpPixmapEdit,
        &gpPixmapSlideru,  &gpPixmapSliderd,  &gpPixmapSlidert,  &gpPixmapButton[0], &gpPixmapButton[1],
        &gpPixmapOUT[0],   &gpPixmapOUT[1],   &gpPixmapMove[0],  &gpPixmapMove[1],  &gpPixmapMove[2],
        &gpPixmapMove[3],  &gpPixmapMove[4],  &gpPixmapMove[5],  &gpPixmapMove[6],
    };
    for (std::size_t i = 0; i < kSkinPictureCount; ++i)
        loadInto(*targets[i], kSkinPictures[i].name);
}

void installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("wqy-microhei"),
                               {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("WenQuanYi Zen Hei")});
    QFont::insertSubstitutions(QStringLiteral("wenquanyi"),
                               {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("WenQuanYi Micro Hei")});
}

void startupUntilMainWindow(const StartupHooks& hooks)
{
    readKernelVersion();

    call(hooks.registerTypes);
    qRegisterMetaType<QPair<QString, QString>>("QPair<QString, QString>");

    platform::requestPortIo();
    gfLED = platform::openLedDevice("/dev/led");

    call(hooks.createApplication);
    call(hooks.createSplash);
    report(hooks, 0, QStringLiteral("启动..."));

    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    if (!LogManager::__instance)
        LogManager::__instance = new LogManager(nullptr);
    // Connections from the network must never take the last descriptors.
    qInfo("open-file limit %d", raiseDescriptorLimit());

    if (!isOpen_Env()) {
        // The target computer: bring the network cards up and give them and
        // the cameras time to come up.
        platform::runner().startDetached(QStringLiteral("python3"),
                                         {QStringLiteral("./cnt_net/zelqx71_upnetcard.py")}, true);
        bool stopping = false;
        for (int i = 1; i <= 5 && !(stopping = stopAsked(hooks)); ++i) {
            platform::sleeper().sleepMs(1000);
            report(hooks, 5 + i, QStringLiteral("配置网卡中..."));
        }
        int value = 15;
        if (!stopping)
            report(hooks, value, QStringLiteral("等待相机开启..."));
        for (int pass = 1; pass <= 10 && !stopping && !(stopping = stopAsked(hooks)); ++pass) {
            platform::sleeper().sleepMs(1000);
            value += (pass % 3 == 0) ? 2 : 3;
            report(hooks, value, QStringLiteral("等待相机开启..."));
        }
    }
    report(hooks, 50, QStringLiteral("相机等待完毕..."));

    qInfo("*********************** application %s ***********************", kAppVersion);

    if (!pMutexIO)
        pMutexIO = new QMutex;
    if (!pMutexSaveFail)
        pMutexSaveFail = new QMutex;

    call(hooks.fillTexts);
    loadSkinPictures();
    report(hooks, 60, QStringLiteral("加载应用程序..."));

    if (QCoreApplication::instance())
        gAppDirPath = QCoreApplication::applicationDirPath();
}

void startupAfterMainWindow(const StartupHooks& hooks)
{
    const int lan = (gLan >= 0 && gLan < kLanCols) ? gLan : 0;
    report(hooks, 90, gaLanStr[651][lan]);
    gDeviceID = getlocal_deviceid();
    writeVersionToJson();
}
