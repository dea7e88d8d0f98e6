// The agent link's costs on the GUI thread and the video thread.
//
//   1. One heartbeat tick with the agent down (nobody listens, the agent
//      program missing): target under 2 ms. Anchor: a bare non-blocking
//      connect() to the same closed loopback port.
//   2. The grab of a 1920x1080 window (two camera pictures and a row of
//      labels) on the GUI thread: target under 15 ms.
//      Anchor: cv::Mat::copyTo of a 1920x1080 BGRA picture.
//   3. Conversion to I420 plus the copy into the share under its lock, at
//      1920x1080: target under 10 ms. Anchor: raw OpenCV cvtColor of the same
//      picture plus memcpy.
//
// The share's System V objects are keyed from a temporary folder and
// removed at the end; run it in an IPC namespace of its own when possible
// (scripts/bench-netservices does).
//
//   netservices_bench_agentlink [seconds per measurement, default 5]
#include "network.h"
#include "videothread.h"
#include "viewwatch2ziz.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QTcpServer>
#include <QTemporaryDir>

#include <opencv2/imgproc.hpp>

#include <arpa/inet.h>
#include "benchtiming.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using benchtiming::measure;
using benchtiming::report;

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 5.0;
    QTemporaryDir dir;
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    const QString cfg = dir.filePath("config.json");
    {
        QFile f(cfg);
        f.open(QIODevice::WriteOnly);
        f.write(R"({"device_worknetfunc": true, "device_workvideo": false})");
    }

    // 1. A tick with the agent down.
    XAN_NETMN manager(cfg, 0, QHostAddress::LocalHost);
    ViewWatch2ZIZ* link = manager.agentLink;
    link->agentProgram = dir.filePath("no-agent");
    link->agentPort = port;
    link->ipcKeyPath = dir.path();
    manager.initStart();
    link->timerHB.stop();
    link->timerRunning.stop();
    const double tick = measure(seconds, [&] {
        link->times_hb = 1;  // never the twenty-minute restart
        link->SlotTimerHB();
    });
    const double connectAnchor = measure(seconds, [&] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::close(fd);
    });
    report("GUI thread per tick, agent down", tick, connectAnchor, "connect()", 2);

    // 2. The grab of a full-HD window.
    // Like the run screen: two camera pictures over a row of lamps and buttons.
    QWidget window;
    auto* grid = new QGridLayout(&window);
    for (int c = 0; c < 2; ++c) {
        QImage camera(940, 880, QImage::Format_RGB32);
        for (int y = 0; y < camera.height(); ++y)
            for (int x = 0; x < camera.width(); ++x)
                camera.setPixel(x, y, qRgb((x * 7 + y) & 0xff, (x ^ y) & 0xff, (y * 3) & 0xff));
        auto* view = new QLabel;
        view->setPixmap(QPixmap::fromImage(camera));
        grid->addWidget(view, 0, c * 10, 1, 10);
    }
    for (int i = 0; i < 12; ++i)
        grid->addWidget(new QLabel(QStringLiteral("OUT %1").arg(i)), 1, i);
    window.resize(1920, 1080);
    window.show();
    app.processEvents();
    const QSize grabbed = window.grab().size();
    if (grabbed != QSize(1920, 1080))
        std::printf("the window grabs as %dx%d\n", grabbed.width(), grabbed.height());
    const double grab = measure(seconds, [&] { (void)window.grab().toImage(); });
    cv::Mat src(1080, 1920, CV_8UC4, cv::Scalar(85, 68, 51, 255));
    cv::Mat dst;
    const double copyAnchor = measure(seconds, [&] { src.copyTo(dst); });
    report("grab of a 1920x1080 window (GUI thread)", grab, copyAnchor, "Mat::copyTo", 15);

    // 3. Conversion plus copy into the share.
    link->createVideoShare(0, 1920, 1080);
    if (link->videoShares.value(0).shmid < 0) {
        std::printf("video share could not be made; conversion not measured\n");
        return 1;
    }
    VideoThread video(link->videoShares, link);
    const QImage picture = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const double convert = measure(seconds, [&] { video.UpdateMemory(0, picture); });
    std::vector<uchar> target(size_t(1920 * 1080 * 3 / 2));
    const double convertAnchor = measure(seconds, [&] {
        cv::Mat i420;
        cv::cvtColor(src, i420, cv::COLOR_BGRA2YUV_I420);
        std::memcpy(target.data(), i420.data, target.size());
    });
    report("I420 conversion and copy (video thread)", convert, convertAnchor, "cvtColor+memcpy", 10);
    video.idestory();
    link->destoryVideoShare();
    return 0;
}
