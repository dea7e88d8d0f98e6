// Load check of the network library on loopback.
//
// wrk with 1, 16 and 64 connections against a small JSON route of an
// HttpManager whose handler runs on this (the "GUI") thread, and against
// nginx serving the same bytes; the worst lateness of a 10 ms timer on this
// thread; memory over a longer run; a 5 MP multipart picture and a 10 MB file
// reply. Usage: bench_netcore [seconds per wrk run, 10] [soak seconds, 60]
#include "httpload.h"
#include "httpmanager.h"
#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <sys/types.h>

namespace {

void quiet(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

class BenchApi : public HttpManager {
public:
    BenchApi() : HttpManager(XANT_SERVER)
    {
        routeMap_.insert("/v18/http/small", [this](CTask_FormData r) {
            CTask_FormData reply;
            reply.taskId = r.taskId;
            reply.sessionIndex = r.sessionIndex;
            reply.json = QJsonObject{{"run", 1}, {"detect", 0}, {"all", 123456}, {"fail", 12}};
            reactor()->post_async(reply);
        });
        routeMap_.insert("/v18/http/picture", [this](CTask_FormData r) {
            pictureBytes += r.images.isEmpty() ? 0 : qint64(r.images.first().total() * r.images.first().elemSize());
            callback_immediately(r, 0, QString());
        });
        routeMap_.insert("/v18/http/file", [this](CTask_FormData r) {
            CTask_FormData reply;
            reply.taskId = r.taskId;
            reply.sessionIndex = r.sessionIndex;
            reply.files.insert(filePath, QByteArray());
            reactor()->post_async(reply);
        });
    }
    quint16 port() const { return static_cast<XANC::TcpServReactor*>(reactor().data())->serverPort(); }
    qint64 pictureBytes = 0;
    QString filePath;
};

// The bytes our small route answers with, as nginx shall serve them.
QByteArray smallBody(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    s.waitForConnected(5000);
    s.write("GET /v18/http/small HTTP/1.1\r\nUser-Agent: probe\r\n\r\n");
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000 && !got.contains("}}")) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        s.waitForReadyRead(5);
        got += s.readAll();
    }
    return got.mid(got.indexOf("\r\n\r\n") + 4);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    const int seconds = argc > 1 ? atoi(argv[1]) : 10;
    const int soakSeconds = argc > 2 ? atoi(argv[2]) : 60;
    if (QStandardPaths::findExecutable("wrk").isEmpty()) {
        std::fprintf(stderr, "wrk is not installed\n");
        return 2;
    }

    QTemporaryDir dir;
    BenchApi api;
    {
        QByteArray content(10 * 1024 * 1024, 'f');
        api.filePath = dir.filePath("reply.bin");
        QFile f(api.filePath);
        f.open(QIODevice::WriteOnly);
        f.write(content);
    }
    if (!api.startReactor(QHostAddress::LocalHost, 0, 1)) {
        std::fprintf(stderr, "cannot start the server\n");
        return 1;
    }
    const quint16 port = api.port();
    const QByteArray body = smallBody(port);

    // nginx with the same reply bytes.
    NginxAnchor anchor("/v18/http/small", body);
    const quint16 nginxPort = anchor.port();
    const qint64 nginxPid = anchor.pid();

    // Lateness of a 10 ms timer on this thread.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed();
    qint64 worstLate = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstLate = std::max(worstLate, now - lastTick - 10);
        lastTick = now;
    });
    tick.start(10);

    std::printf("small JSON route, %d s per run (handler on the main thread)\n", seconds);
    std::printf("%6s | %10s %8s %8s %9s | %10s %8s %8s | %6s\n", "conns", "ours rps", "p50 ms", "p99 ms", "late ms",
                "nginx rps", "p50 ms", "p99 ms", "ratio");
    double rps16 = 0, p99at16 = 0, ratio16 = 0;
    qint64 late16 = 0;
    for (int c : {1, 16, 64}) {
        worstLate = 0;
        lastTick = clock.elapsed();
        const WrkResult ours = wrk(QString("http://127.0.0.1:%1/v18/http/small").arg(port), c, seconds);
        const qint64 late = worstLate;
        WrkResult theirs;
        if (nginxPid > 0)
            theirs = wrk(QString("http://127.0.0.1:%1/v18/http/small").arg(nginxPort), c, seconds);
        const double ratio = theirs.rps > 0 ? ours.rps / theirs.rps : 0;
        std::printf("%6d | %10.0f %8.2f %8.2f %9lld | %10.0f %8.2f %8.2f | %6.2f\n", c, ours.rps, ours.p50, ours.p99,
                    static_cast<long long>(late), theirs.rps, theirs.p50, theirs.p99, ratio);
        std::fflush(stdout);
        if (c == 16) {
            rps16 = ours.rps;
            p99at16 = ours.p99;
            ratio16 = ratio;
            late16 = late;
        }
    }
    const qint64 ourPeak = statusKb("/proc/self/status", "VmHWM:");
    const qint64 nginxPeak = nginxPid > 0 ? statusKb(QString("/proc/%1/status").arg(nginxPid), "VmHWM:") : -1;
    std::printf("peak memory: ours %lld kB, nginx %lld kB\n", static_cast<long long>(ourPeak),
                static_cast<long long>(nginxPeak));

    // Memory over a longer run at 16 connections.
    QList<qint64> rss;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { rss << statusKb("/proc/self/status", "VmRSS:"); });
    sample.start(1000);
    const WrkResult soak = wrk(QString("http://127.0.0.1:%1/v18/http/small").arg(port), 16, soakSeconds);
    sample.stop();
    qint64 rssMax = 0;
    for (qint64 v : rss)
        rssMax = std::max(rssMax, v);
    const qint64 rssEarly = rss.size() > 5 ? rss.at(5) : (rss.isEmpty() ? 0 : rss.first());
    const qint64 rssLast = rss.isEmpty() ? 0 : rss.last();
    std::printf("soak %d s at 16 connections: %.0f rps; RSS after 5 s %lld kB, at the end %lld kB, highest %lld kB\n",
                soakSeconds, soak.rps, static_cast<long long>(rssEarly), static_cast<long long>(rssLast),
                static_cast<long long>(rssMax));

    // 5 MP picture, multipart, client reactor to server.
    XANC::TcpCliReactor client;
    client.reAction(QHostAddress::LocalHost, port);
    CTask_FormData pic;
    pic.url = "/v18/http/picture";
    cv::Mat image(1944, 2592, CV_8UC3);
    cv::randu(image, 0, 255);
    pic.images.insert("cam0", image);
    const int pictures = 20;
    api.pictureBytes = 0;
    QElapsedTimer pt;
    pt.start();
    for (int i = 0; i < pictures; ++i) {
        CTask_FormData req = pic;
        CTask_FormData resp;
        if (!client.post_sync(req, resp, 30000))
            std::fprintf(stderr, "picture %d not answered\n", i);
    }
    const double picMBs = double(api.pictureBytes) / (1024.0 * 1024.0) / (double(pt.elapsed()) / 1000.0);
    std::printf("5 MP picture (2592x1944x3, multipart): %d sent, %.0f MB/s\n", pictures, picMBs);

    // 10 MB file reply to a plain socket.
    const int files = 20;
    qint64 fileBytes = 0;
    QElapsedTimer ft;
    ft.start();
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        s.waitForConnected(5000);
        for (int i = 0; i < files; ++i) {
            s.write("GET /v18/http/file HTTP/1.1\r\nUser-Agent: f\r\n\r\n");
            qint64 want = -1;
            QByteArray headBuf;
            qint64 got = 0;
            QElapsedTimer guard;
            guard.start();
            while (guard.elapsed() < 30000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
                s.waitForReadyRead(2);
                QByteArray chunk = s.readAll();
                if (want < 0) {
                    headBuf += chunk;
                    const int sep = headBuf.indexOf("\r\n\r\n");
                    if (sep < 0)
                        continue;
                    const auto m = QRegularExpression("Content-Length: (\\d+)").match(QString::fromLatin1(headBuf.left(sep)));
                    want = m.captured(1).toLongLong();
                    got = headBuf.size() - sep - 4;
                } else {
                    got += chunk.size();
                }
                if (want >= 0 && got >= want)
                    break;
            }
            fileBytes += got;
        }
    }
    const double fileMBs = double(fileBytes) / (1024.0 * 1024.0) / (double(ft.elapsed()) / 1000.0);
    std::printf("10 MB file reply: %d sent, %.0f MB/s\n", files, fileMBs);

    std::printf("\ntargets:\n");
    std::printf("  16 connections >= 20000 rps: %.0f %s\n", rps16, rps16 >= 20000 ? "met" : "MISSED");
    std::printf("  16 connections p99 < 10 ms: %.2f %s\n", p99at16, p99at16 < 10 ? "met" : "MISSED");
    std::printf("  >= 0.25 x nginx: %.2f %s\n", ratio16, ratio16 >= 0.25 ? "met" : "MISSED");
    std::printf("  timer lateness < 20 ms: %lld %s\n", static_cast<long long>(late16), late16 < 20 ? "met" : "MISSED");
    const bool flat = rssLast <= rssEarly + rssEarly / 10 + 2048;
    std::printf("  memory flat over %d s: %lld -> %lld kB %s\n", soakSeconds, static_cast<long long>(rssEarly),
                static_cast<long long>(rssLast), flat ? "met" : "MISSED");
    std::printf("  picture >= 200 MB/s: %.0f %s\n", picMBs, picMBs >= 200 ? "met" : "MISSED");
    std::printf("  file >= 200 MB/s: %.0f %s\n", fileMBs, fileMBs >= 200 ? "met" : "MISSED");

    return 0;
}
