// Helpers of the network-card tests.
#pragma once

#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

// Off the target: records every machine command and answers the Wi-Fi scan
// with `scanOutput`.
class CardRunner : public platform::CommandRunner {
public:
    platform::CommandResult runOnTarget(const QString& program, const QStringList& args, int) override
    {
        record(program, args);
        platform::CommandResult r;
        r.started = true;
        r.exitCode = 0;
        if (program == QLatin1String("iwlist"))
            r.out = scanOutput;
        return r;
    }
    bool isTarget() const override { return false; }
    int count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& c : recorded())
            n += c.startsWith(prefix);
        return n;
    }
    QByteArray scanOutput;
};

inline void put(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}
