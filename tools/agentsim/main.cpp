// agentsim: a stand-in for the plant's local network agent.
//
// It listens where the agent does (127.0.0.1:10431), answers every POST the
// way the agent does (the reply names the request's task id in its
// User-Agent line, which is how the program pairs replies with requests),
// answers the heartbeat with the flags cntserver, register, needokimg and
// needvideo, and writes every message it receives as one JSON line to its
// log. The flags can be changed while it runs:
//
//   curl -X POST localhost:10431/agentsim/flags -d '{"register":false}'
//
// Values are answered exactly as given, so '{"cntserver":"true"}' answers a
// string. It can read a frame of the screen share the program offered:
//
//   curl 'localhost:10431/agentsim/frame?out=/tmp/frame.i420'
//   curl 'localhost:10431/agentsim/holdlock'   (takes the share's lock for good)
//
// Usage: agentsim [config.json] [--port N] [--log FILE]
// The environment may set VMM_AGENTSIM_PORT, VMM_AGENTSIM_LOG and
// VMM_AGENTSIM_FLAGS (a JSON object); the options win. Without a log option
// the log is agent-messages.log beside the program.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/sem.h>
#include <sys/shm.h>

namespace {

struct Share {
    int shmid = -1;
    int semid = -1;
    int size = 0;
};

class Agent : public QObject {
public:
    Agent(const QString& logPath, const QString& config) : log_(logPath), config_(config)
    {
        flags_ = QJsonObject{{"cntserver", true}, {"register", true}, {"needokimg", false}, {"needvideo", true}};
        if (!log_.open(QIODevice::WriteOnly | QIODevice::Append))
            std::fprintf(stderr, "agentsim: cannot open log %s\n", qPrintable(logPath));
        connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    bool listen(quint16 port) { return server_.listen(QHostAddress::LocalHost, port); }
    void mergeFlags(const QJsonObject& o)
    {
        for (auto it = o.begin(); it != o.end(); ++it)
            flags_.insert(it.key(), it.value());
    }
    void note(const QJsonObject& line)
    {
        if (!log_.isOpen())
            return;
        log_.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
        log_.flush();
    }
    QString config() const { return config_; }

private:
    void accept()
    {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            connect(s, &QTcpSocket::readyRead, s, [this, s] { readFrom(s); });
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    }

    // Cuts whole messages (head and Content-Length body) out of the stream.
    void readFrom(QTcpSocket* s)
    {
        QByteArray& buf = buffers_[s];
        buf += s->readAll();
        for (;;) {
            const int end = buf.indexOf("\r\n\r\n");
            if (end < 0) {
                if (buf.size() > 65536)
                    s->abort();
                return;
            }
            const QList<QByteArray> lines = buf.left(end).split('\n');
            qint64 length = 0;
            QByteArray taskId;
            for (int i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const int colon = line.indexOf(':');
                if (colon <= 0)
                    continue;
                const QByteArray name = line.left(colon).trimmed().toLower();
                const QByteArray value = line.mid(colon + 1).trimmed();
                if (name == "content-length")
                    length = value.toLongLong();
                else if (name == "user-agent")
                    taskId = value;
            }
            if (length < 0 || length > 64 * 1024 * 1024) {
                s->abort();
                return;
            }
            if (buf.size() < end + 4 + length)
                return;
            const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
            const QByteArray body = buf.mid(end + 4, int(length));
            buf.remove(0, end + 4 + int(length));
            handle(s, start.value(0), start.value(1), taskId, body);
        }
    }

    void reply(QTcpSocket* s, const QByteArray& taskId, int code, const QString& msg, const QJsonObject& result)
    {
        const QByteArray body =
            QJsonDocument(QJsonObject{{"code", code}, {"msg", msg}, {"result", result}}).toJson(QJsonDocument::Compact);
        s->write("HTTP/1.1 200 OK\r\nUser-Agent: " + taskId + "\r\nContent-Type: application/json\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    void handle(QTcpSocket* s, const QByteArray& method, const QByteArray& target, const QByteArray& taskId,
                const QByteArray& body)
    {
        const int q = target.indexOf('?');
        const QString path = QString::fromUtf8(q < 0 ? target : target.left(q));
        const QUrlQuery query(QString::fromUtf8(q < 0 ? QByteArray() : target.mid(q + 1)));
        const QJsonDocument doc = QJsonDocument::fromJson(body);

        if (path == QLatin1String("/agentsim/flags")) {
            if (method == "POST" && doc.isObject())
                mergeFlags(doc.object());
            reply(s, taskId, 0, "OK", flags_);
            return;
        }
        if (path == QLatin1String("/agentsim/frame")) {
            QString error;
            const int n = readFrame(query.queryItemValue("out"), &error);
            reply(s, taskId, n < 0 ? 1 : 0, n < 0 ? error : "OK", QJsonObject{{"bytes", n}});
            return;
        }
        if (path == QLatin1String("/agentsim/holdlock")) {
            const bool held = share_.semid >= 0 && lock(share_.semid, 1000);
            reply(s, taskId, held ? 0 : 1, held ? "OK" : "not taken", QJsonObject{});
            return;
        }

        QJsonObject line{{"time", QDateTime::currentMSecsSinceEpoch()},
                         {"method", QString::fromLatin1(method)},
                         {"url", path},
                         {"taskId", QString::fromUtf8(taskId)}};
        if (doc.isObject())
            line.insert("body", doc.object());
        else
            line.insert("bytes", body.size());
        note(line);

        if (path == QLatin1String("/inline/bymain/offervideomem")) {
            const QJsonObject first = doc.object().value("memoryinfo").toArray().first().toObject();
            share_.shmid = first.value("shmid").toInt(-1);
            share_.semid = first.value("semid").toInt(-1);
            share_.size = first.value("size").toInt(0);
        }
        reply(s, taskId, 0, "OK", path == QLatin1String("/inline/bymain/heartbeat") ? flags_ : QJsonObject{});
    }

    static bool lock(int semid, int timeoutMs)
    {
        struct sembuf op{0, -1, SEM_UNDO};
        struct timespec limit{timeoutMs / 1000, long(timeoutMs % 1000) * 1000000L};
        return semtimedop(semid, &op, 1, &limit) == 0;
    }
    static void unlock(int semid)
    {
        struct sembuf op{0, 1, SEM_UNDO};
        semop(semid, &op, 1);
    }

    // Copies one frame out of the share under its lock, as the agent does.
    int readFrame(const QString& out, QString* error)
    {
        if (share_.shmid < 0 || share_.semid < 0 || share_.size <= 0) {
            *error = "no share offered";
            return -1;
        }
        void* addr = shmat(share_.shmid, nullptr, SHM_RDONLY);
        if (addr == reinterpret_cast<void*>(-1)) {
            *error = QString("shmat errno %1").arg(errno);
            return -1;
        }
        QByteArray frame;
        if (lock(share_.semid, 1000)) {
            frame = QByteArray(static_cast<const char*>(addr), share_.size);
            unlock(share_.semid);
        }
        shmdt(addr);
        if (frame.isEmpty()) {
            *error = "lock not taken";
            return -1;
        }
        QFile f(out);
        if (out.isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(frame) != frame.size()) {
            *error = "cannot write " + out;
            return -1;
        }
        return frame.size();
    }

    QTcpServer server_;
    QFile log_;
    QString config_;
    QJsonObject flags_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    Share share_;
};

}  // namespace

int main(int argc, char* argv[])
{
    // The agent goes with the program that started it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);

    quint16 port = quint16(qEnvironmentVariableIntValue("VMM_AGENTSIM_PORT"));
    if (port == 0)
        port = 10431;
    QString logPath = qEnvironmentVariable("VMM_AGENTSIM_LOG");
    QString config;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--port" && i + 1 < args.size())
            port = quint16(args[++i].toUInt());
        else if (args[i] == "--log" && i + 1 < args.size())
            logPath = args[++i];
        else if (!args[i].startsWith("--"))
            config = args[i];
    }
    if (logPath.isEmpty())
        logPath = QFileInfo(app.applicationFilePath()).dir().filePath("agent-messages.log");

    Agent agent(logPath, config);
    const QJsonDocument flags = QJsonDocument::fromJson(qgetenv("VMM_AGENTSIM_FLAGS"));
    if (flags.isObject())
        agent.mergeFlags(flags.object());
    if (!agent.listen(port)) {
        std::fprintf(stderr, "agentsim: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    agent.note(QJsonObject{{"time", QDateTime::currentMSecsSinceEpoch()}, {"started", true}, {"config", config},
                           {"port", int(port)}});
    return app.exec();
}
