// Pushes under load: per cycle 8 cameras x 2 pictures go to 4 live
// subscribers (plus the cycle record), with 10 dead subscribers registered
// (5 ports where nobody listens, 5 that accept and never answer). The
// subscribers run on a thread of their own; the pictures are saved from a
// plain thread as the main window's picture writer does. Reports the GUI
// timer's worst lateness, the pushes delivered and the push objects left.
//
//   netservices_bench_pushes [cycles, default 20]
#include "httpapiserver.h"
#include "network.h"
#include "rivurevezi.h"
#include "tcp_push2app.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

std::atomic<int> gReceived{0};

// A subscriber: reads whole requests and, when `answer`, replies with the
// task id.
class Subscriber : public QObject {
public:
    explicit Subscriber(bool answer) : answer_(answer)
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
                    buffer->append(s->readAll());
                    for (;;) {
                        const int end = buffer->indexOf("\r\n\r\n");
                        if (end < 0)
                            return;
                        const QByteArray head = buffer->left(end);
                        const int cl = head.indexOf("Content-Length:");
                        const int length = cl < 0 ? 0 : head.mid(cl + 15).split('\r').value(0).trimmed().toInt();
                        if (buffer->size() < end + 4 + length)
                            return;
                        const int ua = head.indexOf("User-Agent:");
                        const QByteArray id = ua < 0 ? QByteArray() : head.mid(ua + 11).split('\r').value(0).trimmed();
                        buffer->remove(0, end + 4 + length);
                        if (!answer_)
                            continue;
                        ++gReceived;
                        const QByteArray json = R"({"code":200,"msg":"OK","result":{"recv_time":0,"analysis_time":0}})";
                        s->write("HTTP/1.1 200 OK\r\nUser-Agent: " + id + "\r\nContent-Type: application/json\r\nContent-Length: "
                                 + QByteArray::number(json.size()) + "\r\n\r\n" + json);
                    }
                });
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }

private:
    QTcpServer server_;
    bool answer_;
};

quint16 closedPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(3, atoi(argv[1])) : 20;
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QDir().mkpath(QStringLiteral("cnt_net/workspace"));
    {
        QFile f(QStringLiteral("cnt_net/config.json"));
        f.open(QIODevice::WriteOnly);
        f.write(QJsonDocument(QJsonObject{{"devicename", "bench"}, {"device_workapifunc", true}}).toJson());
    }
    // 16 pictures of 150 KB.
    QStringList pictures;
    for (int c = 0; c < 8; ++c)
        for (int k = 0; k < 2; ++k) {
            const QString dir = QStringLiteral("alarmimage/camera%1/detect1/%2").arg(c + 1).arg(k ? "OK" : "NG");
            QDir().mkpath(dir);
            const QString path = QDir(dir).absoluteFilePath(QStringLiteral("p.jpg"));
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(150 * 1024, char('a' + c)));
            pictures << path;
        }

    RiVuRevezi win;
    gpWin = &win;
    numCamera = 8;
    XAN_NETMN m(XAN_NETMN::defaultConfigPath(), 0, QHostAddress::LocalHost);
    m.initStart();

    // The subscribers' own thread.
    QThread subscriberThread;
    auto* context = new QObject;
    context->moveToThread(&subscriberThread);
    subscriberThread.start();
    QList<Subscriber*> live, silent;
    for (int i = 0; i < 9; ++i) {
        Subscriber* s = nullptr;
        QMetaObject::invokeMethod(context, [&s, i] { s = new Subscriber(i < 4); }, Qt::BlockingQueuedConnection);
        (i < 4 ? live : silent) << s;
    }
    QJsonArray subs;
    auto add = [&subs](quint16 port, const char* topic) {
        subs.append(QJsonObject{{"subscriber_ip", "127.0.0.1"}, {"subscriber_port", port}, {"subscriber_topic", topic}});
    };
    for (Subscriber* s : live) {
        add(s->port(), "detected_picture");
        add(s->port(), "detected_info");
    }
    for (Subscriber* s : silent)
        add(s->port(), "detected_picture");
    for (int i = 0; i < 5; ++i)
        add(closedPort(), "detected_picture");
    CTask_FormData reg;
    reg.json = QJsonObject{{"subscriber", subs}};
    m.setWorkTask(false, false, true);
    m.apiServer->httpapi__subscriber_baseinfo(reg);

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, lateness = 0;
    QTimer gui;
    QObject::connect(&gui, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick)
            lateness = std::max(lateness, now - lastTick - 10);
        lastTick = now;
    });
    gui.start(10);

    int peakObjects = 0;
    int cycle = 0;
    QTimer cycleTimer;
    QObject::connect(&cycleTimer, &QTimer::timeout, [&] {
        if (cycle == cycles) {
            cycleTimer.stop();
            QTimer::singleShot(3500, &app, &QCoreApplication::quit);
            return;
        }
        ++cycle;
        m.start_PeriodRecord();
        std::thread saver([&m, &pictures] {
            for (int i = 0; i < pictures.size(); ++i)
                m.add_PeriodRecord_Picture(i / 2, 0, (i & 1) != 0, pictures[i]);
        });
        saver.join();
        m.finish_PeriodRecord();
        peakObjects = std::max(peakObjects, Tcp_Push2APP::liveObjects());
    });
    // Longer than the 1000 ms publish delay, so every cycle record is pushed.
    cycleTimer.start(1200);
    QTimer peak;
    QObject::connect(&peak, &QTimer::timeout, [&] { peakObjects = std::max(peakObjects, Tcp_Push2APP::liveObjects()); });
    peak.start(50);
    app.exec();

    const int expected = cycles * (16 + 1) * 4;
    std::printf("cycles %d: pushes answered by live subscribers %d of %d\n", cycles, gReceived.load(), expected);
    std::printf("push objects: peak %d, left 3.5 s after the last cycle %d\n", peakObjects, Tcp_Push2APP::liveObjects());
    std::printf("worst GUI timer lateness %lld ms (target < 20)\n", static_cast<long long>(lateness));
    std::printf("%s\n", lateness < 20 && gReceived.load() == expected ? "PASS" : "BELOW TARGET");
    const QList<Subscriber*> all = live + silent;
    QMetaObject::invokeMethod(context, [all] { qDeleteAll(all); }, Qt::BlockingQueuedConnection);
    subscriberThread.quit();
    subscriberThread.wait();
    delete context;
    gpWin = nullptr;
    return 0;
}
