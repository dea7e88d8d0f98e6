#include "httpload.h"

#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

namespace {

double toMs(const QString& value, const QString& unit)
{
    const double v = value.toDouble();
    if (unit == "us")
        return v / 1000.0;
    if (unit == "s")
        return v * 1000.0;
    return v;
}

// Runs a program on a helper thread while this thread's event loop goes on.
platform::CommandResult runAside(const QString& program, const QStringList& args, int timeoutMs)
{
    platform::CommandResult result;
    QThread* t = QThread::create([&] { result = platform::runner().run(program, args, timeoutMs); });
    // Waits in the event loop, not in a polling one: processEvents with a
    // time limit never sleeps, and a spinning thread here would take a core
    // from the servers being measured.
    QEventLoop loop;
    QObject::connect(t, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    t->start();
    loop.exec();
    t->wait();
    delete t;
    return result;
}

}  // namespace

WrkResult wrk(const QString& url, int connections, int seconds)
{
    const int threads = std::min(connections, 4);
    const platform::CommandResult r =
        runAside("wrk", {"-t", QString::number(threads), "-c", QString::number(connections), "-d",
                         QString("%1s").arg(seconds), "--latency", url},
                 (seconds + 30) * 1000);
    WrkResult w;
    const QString out = QString::fromUtf8(r.out);
    const auto rps = QRegularExpression("Requests/sec:\\s+([\\d.]+)").match(out);
    const auto p50 = QRegularExpression("\\s50%\\s+([\\d.]+)(us|ms|s)").match(out);
    const auto p99 = QRegularExpression("\\s99%\\s+([\\d.]+)(us|ms|s)").match(out);
    if (!r.ok() || !rps.hasMatch() || !p50.hasMatch() || !p99.hasMatch()) {
        std::fprintf(stderr, "wrk failed: %s %s\n", r.out.constData(), r.err.constData());
        return w;
    }
    if (out.contains("Non-2xx") || out.contains("Socket errors"))
        std::fprintf(stderr, "wrk reports errors:\n%s\n", qPrintable(out));
    w.ok = true;
    w.rps = rps.captured(1).toDouble();
    w.p50 = toMs(p50.captured(1), p50.captured(2));
    w.p99 = toMs(p99.captured(1), p99.captured(2));
    return w;
}

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

qint64 statusKb(const QString& file, const char* key)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(strlen(key))).trimmed().split(' ').first().toLongLong();
    return -1;
}

NginxAnchor::NginxAnchor(const QString& path, const QByteArray& body, bool asDebian)
{
    port_ = freePort();
    QDir(dir_.path()).mkpath("tmp");
    // The body goes in a file: nginx's return text would need escaping.
    {
        QFile f(dir_.filePath("body.json"));
        f.open(QIODevice::WriteOnly);
        f.write(body);
    }
    // In a return text '$' starts a variable and cannot be escaped: such a
    // body stays in its file.
    const bool fromMemory = asDebian && !body.contains('$');
    QString answer = QStringLiteral("alias %1/body.json;").arg(dir_.path());
    if (fromMemory) {
        QString text = QString::fromUtf8(body);
        text.replace(QLatin1String("\\"), QLatin1String("\\\\")).replace(QLatin1String("'"), QLatin1String("\\'"));
        answer = QStringLiteral("return 200 '%1';").arg(text);
    }
    const QString processes = asDebian ? QStringLiteral("master_process on;\nworker_processes auto;")
                                       : QStringLiteral("master_process off;");
    const QString conf = QString(R"(daemon off;
%4
pid %1/nginx.pid;
error_log %1/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path %1/tmp/body; proxy_temp_path %1/tmp/proxy; fastcgi_temp_path %1/tmp/fcgi;
  uwsgi_temp_path %1/tmp/uwsgi; scgi_temp_path %1/tmp/scgi;
  server {
    listen 127.0.0.1:%2;
    location = %3 { default_type application/json; %5 }
  }
}
)").arg(dir_.path()).arg(port_).arg(path, processes, answer);
    {
        QFile f(dir_.filePath("nginx.conf"));
        f.open(QIODevice::WriteOnly);
        f.write(conf.toUtf8());
    }
    const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"});
    if (nginx.isEmpty()
        || !platform::runner().startDetached(nginx, {"-p", dir_.path(), "-c", dir_.filePath("nginx.conf")}, false))
        return;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000 && pid_ == 0) {
        QThread::msleep(50);
        QFile p(dir_.filePath("nginx.pid"));
        if (p.open(QIODevice::ReadOnly))
            pid_ = p.readAll().trimmed().toLongLong();
    }
}

NginxAnchor::~NginxAnchor()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_t(pid_), SIGQUIT);
    // Its files go with the folder: wait until it has left them.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000 && ::kill(pid_t(pid_), 0) == 0)
        QThread::msleep(20);
}
