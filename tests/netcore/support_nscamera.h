// A camera's side of the discovery as a helper process in a network
// namespace of its own, joined to the test's namespace by a veth pair: the
// helper is started under `unshare -n`, the veth end is moved into its
// namespace, and the helper reports "ready <key> <mac>".
#pragma once

#include "support_netns.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>

#include <memory>

struct NsCamera {
    NsCamera(const QString& helper, const QString& monitorItf, const QString& cameraItf, const QString& monitorCidr,
             const QString& cameraCidr)
        : helper(helper), monitorItf(monitorItf), cameraItf(cameraItf), monitorCidr(monitorCidr), cameraCidr(cameraCidr)
    {
    }
    QString helper, monitorItf, cameraItf, monitorCidr, cameraCidr;
    std::unique_ptr<QProcess> proc;
    QStringList lines;
    QString key, mac;

    void readLines()
    {
        while (proc && proc->canReadLine())
            lines << QString::fromLocal8Bit(proc->readLine()).trimmed();
    }
    // Waits (bounded) for a line matching `re`; events keep running meanwhile.
    bool waitLine(const QRegularExpression& re, int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            readLines();
            for (const QString& l : qAsConst(lines))
                if (re.match(l).hasMatch())
                    return true;
            if (t.elapsed() > ms || !proc || proc->state() == QProcess::NotRunning)
                return false;
            proc->waitForReadyRead(50);
            QCoreApplication::processEvents();
        }
    }
    QStringList runs()
    {
        readLines();
        return lines.filter(QRegularExpression(QStringLiteral("^run: ")));
    }
    bool start()
    {
        proc = std::make_unique<QProcess>();
        proc->setProcessChannelMode(QProcess::SeparateChannels);
        proc->start(QStringLiteral("unshare"), {QStringLiteral("-n"), helper,
                                                netns::currentNamespace(), cameraItf, cameraCidr});
        // The veth end may only be moved once the helper's namespace exists.
        if (!proc->waitForStarted(120000) || !waitLine(QRegularExpression(QStringLiteral("^started$")), 120000))
            return false;
        const QString pid = QString::number(proc->processId());
        if (!netns::ip({QStringLiteral("link"), QStringLiteral("add"), monitorItf, QStringLiteral("type"),
                        QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), cameraItf,
                        QStringLiteral("netns"), pid}) ||
            !netns::ip({QStringLiteral("addr"), QStringLiteral("add"), monitorCidr, QStringLiteral("dev"), monitorItf}) ||
            !netns::ip({QStringLiteral("link"), QStringLiteral("set"), monitorItf, QStringLiteral("up")}))
            return false;
        if (!waitLine(QRegularExpression(QStringLiteral("^ready ")), 120000))
            return false;
        // The kernel lets a new link carry traffic only once its deferred
        // link watch has run, which a loaded machine puts off: a datagram
        // sent before then (the client's one set-time broadcast) is dropped.
        QElapsedTimer up;
        up.start();
        while (!QNetworkInterface::interfaceFromName(monitorItf).flags().testFlag(QNetworkInterface::IsRunning)) {
            if (up.elapsed() > 30000)
                return false;
            QThread::msleep(20);
        }
        const QStringList ready = lines.filter(QRegularExpression(QStringLiteral("^ready "))).first().split(' ');
        key = ready.value(1);
        mac = ready.value(2);
        return key.size() == 32;
    }
    ~NsCamera()
    {
        if (proc) {
            proc->kill();
            proc->waitForFinished(5000);
        }
    }
};
