// vmm_bench_settings: the settings screen over one simulated 1280 x 1024 grey
// camera.
//   - opening the screen (working copy from the live record, every field
//     filled, shown and painted), target under 300 ms; building it (once,
//     at start-up) is given apart;
//   - a new exposure typed on the screen until the camera's next picture
//     shows it (setter, plug-in, UpdateImage), target under 100 ms.
// Anchor, measured in the same run: the same brightness change done by raw
// OpenCV on a frame of the same size (cv::Mat::convertTo), with the ratio.
#include "databases.h"
#include "cameraviews.h"
#include "cameramanager.h"
#include "cammerwidget.h"
#include "globals.h"
#include "screenchrome.h"
#include "lanstr.h"
#include "paramdb.h"
#include "statewindow.h"
#include "wizardpara.h"
#include "wizardparawidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPluginLoader>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double meanOf(const CammerWidget& v)
{
    return cv::mean(cv::Mat(v.imageHeight, v.imageWidth, CV_8UC1, v.captureFrame))[0];
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VMM_TARGET", "0");
    QApplication app(argc, argv);
    initLanStr();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QString error;
    if (!paramdb::writeDefaultDatabase(QStringLiteral("PARAM.db"), 1, &error)) {
        std::fprintf(stderr, "PARAM.db: %s\n", qPrintable(error));
        return 1;
    }
    StateWindow win;
    Databases::get().setParamDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn")));
    Databases::get().paramDb().setDatabaseName(QStringLiteral("PARAM.db"));
    Databases::get().paramDb().open();
    Databases::get().setParamQuery(new QSqlQuery(Databases::get().paramDb()));
    gShowW = 1920;
    gShowH = 1080;
    numCamera = 1;
    gpWPara = new WizardPara;
    gpWPara->LoadDatafromFile();
    gpWParaBak = new WizardPara;
    gSource = -1;

    QJsonObject cam{{"serial", "BENCHCAM-0"}, {"width", 1280}, {"height", 1024}, {"color", false}, {"seed", 1}};
    QJsonObject root{{"control", QString()}, {"cameras", QJsonArray{cam}}};
    qputenv("VMM_CAMERA_SIMULATED", QJsonDocument(root).toJson(QJsonDocument::Compact));
    QPluginLoader loader(QStringLiteral(VMM_PLUGIN_DIR "/libcamera_simulated.so"));
    QObject* inst = loader.instance();
    if (!inst) {
        std::fprintf(stderr, "plug-in: %s\n", qPrintable(loader.errorString()));
        return 1;
    }
    auto* plugin = static_cast<CameraInterface*>(inst->qt_metacast(CAMERA_INTERFACE_IID));
    CameraManager::getInstance()->interfaces.append(plugin);
    std::unique_ptr<CammerWidget> view(new CammerWidget(&win, 0, plugin->enumCameras().value(0)));
    if (!view->isOpen()) {
        std::fprintf(stderr, "the simulated camera did not open\n");
        return 1;
    }
    CameraViews::set(0, view.get());
    win.resize(1920, 1080);
    win.show();

    QElapsedTimer t;
    t.start();
    auto* screen = new WizardParaWidget(&win);
    const double build = t.nsecsElapsed() / 1e6;
    struct Chrome : ScreenChrome {
        WizardParaWidget* screen = nullptr;
        bool settingsVisible() override { return screen->isVisible(); }
    } chrome;
    chrome.screen = screen;
    ScreenChrome* replaced = ScreenChrome::install(&chrome);
    std::vector<double> open;
    for (int i = 0; i < 20; ++i) {
        screen->hide();
        app.processEvents();
        t.restart();
        screen->openScreen();
        screen->repaint();   // painted, not only asked for
        open.push_back(t.nsecsElapsed() / 1e6);
    }

    // Exposure 20 and 60 in turn; a picture counts once its mean moved half
    // way towards the new brightness.
    std::vector<double> trip;
    view->UpdateImage();
    for (int i = 0; i < 40; ++i) {
        const double before = meanOf(*view);
        const int exposure = i % 2 ? 20 : 60;
        t.restart();
        screen->setWord(0, exposure);
        int pulls = 0;
        while (pulls < 200) {
            ++pulls;
            if (view->UpdateImage() && std::abs(meanOf(*view) - before) > 2.0)
                break;
            app.processEvents();
        }
        if (pulls < 200)
            trip.push_back(t.nsecsElapsed() / 1e6);
    }

    cv::Mat frame(1024, 1280, CV_8UC1, cv::Scalar(90)), out;
    std::vector<double> anchor;
    for (int i = 0; i < 40; ++i) {
        t.restart();
        frame.convertTo(out, CV_8U, i % 2 ? 0.5 : 1.5);
        anchor.push_back(t.nsecsElapsed() / 1e6);
    }
    const double openMs = median(open);
    std::printf("settings screen: built in %.1f ms; opened in median %.2f ms (target under 300 ms) %s\n", build,
                openMs, openMs < 300 ? "OK" : "OVER");
    if (trip.empty()) {
        std::printf("exposure round trip: the picture never followed the exposure\n");
        return 1;
    }
    const double tripMs = median(trip);
    const double anchorMs = median(anchor);
    std::printf("exposure round trip to the picture: median %.2f ms over %zu changes (target under 100 ms) %s\n",
                tripMs, trip.size(), tripMs < 100 ? "OK" : "OVER");
    std::printf("anchor, raw OpenCV brightness change of a 1280 x 1024 frame: median %.3f ms; ratio %.1f\n", anchorMs,
                tripMs / std::max(anchorMs, 1e-6));
    ScreenChrome::install(replaced);
    delete screen;
    CameraViews::set(0, nullptr);
    view.reset();
    delete Databases::get().paramQuery();
    Databases::get().setParamQuery(nullptr);
    Databases::get().paramDb().close();
    return 0;
}
