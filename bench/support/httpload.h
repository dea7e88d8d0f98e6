// Load runs for the HTTP benchmarks: wrk against a URL while the calling
// thread's event loop goes on, and nginx serving given bytes on loopback as
// the anchor every figure is set against.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

struct WrkResult {
    bool ok = false;
    double rps = 0;
    double p50 = 0;  // ms
    double p99 = 0;  // ms
};

// wrk with `connections` connections (at most 4 threads) for `seconds`.
WrkResult wrk(const QString& url, int connections, int seconds);

// A free TCP port on 127.0.0.1.
quint16 freePort();

// One "key: value kB" line of a /proc status file; -1 when absent.
qint64 statusKb(const QString& file, const char* key);

// nginx answering `path` with 200, application/json and `body`; stopped
// with the object. One process serving the body from a file, or (asDebian)
// as Debian configures it: a master with `worker_processes auto`, the body
// from memory (a return directive).
class NginxAnchor {
public:
    NginxAnchor(const QString& path, const QByteArray& body, bool asDebian = false);
    ~NginxAnchor();
    bool ok() const { return pid_ > 0; }
    quint16 port() const { return port_; }
    qint64 pid() const { return pid_; }

private:
    QTemporaryDir dir_;
    quint16 port_ = 0;
    qint64 pid_ = 0;
};
