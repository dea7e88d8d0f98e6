// A simulated local agent (tools/agentsim) started by the agent link itself,
// in a working folder of its own, on a free loopback port, with its message
// log read back as JSON lines.
#pragma once

#include "network.h"
#include "support_netservices.h"
#include "testworkdir.h"
#include "viewwatch2ziz.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <memory>

class AgentRig {
public:
    explicit AgentRig(bool video = false, const QByteArray& flags = "{}", bool net = true,
                      const QString& program = QStringLiteral(AGENTSIM_PATH))
    {
        logPath = wd.file("agent.log");
        qputenv("VMM_AGENTSIM_PORT", QByteArray::number(port));
        qputenv("VMM_AGENTSIM_LOG", logPath.toLocal8Bit());
        qputenv("VMM_AGENTSIM_FLAGS", flags);
        QFile cfg(wd.file("cnt_net/config.json"));
        if (cfg.open(QIODevice::WriteOnly))
            cfg.write(QJsonDocument(QJsonObject{{"device_worknetfunc", net}, {"device_workvideo", video}}).toJson());
        cfg.close();
        mgr.reset(new XAN_NETMN(wd.file("cnt_net/config.json"), 0, QHostAddress::LocalHost));
        link = mgr->agentLink;
        link->agentProgram = program;
        link->agentPort = port;
        link->ipcKeyPath = wd.path();
        mgr->initStart();
        // The test drives the ticks itself.
        link->timerHB.stop();
        link->timerRunning.stop();
    }
    ~AgentRig()
    {
        mgr.reset();
        qunsetenv("VMM_AGENTSIM_FLAGS");
    }

    // Ticks until the permission code is `code` (or 15 s have passed).
    bool tickUntil(int code)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 15000) {
            link->SlotTimerHB();
            QTest::qWait(50);
            if (link->isAllowSnd_2_VW() == code)
                return true;
        }
        return false;
    }

    // Every message the agent logged, optionally only those to `url`'s last part.
    QList<QJsonObject> messages(const QString& name = QString()) const
    {
        QList<QJsonObject> out;
        QFile f(logPath);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.isEmpty())
                continue;
            if (name.isEmpty() || o.value("url").toString() == "/inline/bymain/" + name)
                out.append(o);
        }
        return out;
    }
    int count(const QString& name) const { return messages(name).size(); }

    // Talks to the agent's control paths with curl, as an operator would.
    QJsonObject control(const QString& pathAndQuery, const QByteArray& post = QByteArray()) const
    {
        QStringList args{"-s", "-m", "5", QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(pathAndQuery)};
        if (!post.isNull())
            args << "-X" << "POST" << "-H" << "Content-Type: application/json" << "--data-binary" << QString::fromUtf8(post);
        QProcess curl;
        curl.start("curl", args);
        curl.waitForFinished(10000);
        return QJsonDocument::fromJson(curl.readAllStandardOutput()).object();
    }

    TestWorkDir wd;
    quint16 port = freeLocalPort();
    QString logPath;
    std::unique_ptr<XAN_NETMN> mgr;
    ViewWatch2ZIZ* link = nullptr;
};
