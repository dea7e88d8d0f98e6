// `ip` for the namespace set-ups, sturdy on a loaded machine: a run may take
// up to two minutes, and one that did not start or did not finish in that
// time is tried again (twice at most). A run that did not finish may still
// have done its work, so after one the retry's "File exists" counts as done.
// A run that finished and failed is a real failure and is not repeated.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <cstdio>

inline bool runIpCommand(const QStringList& args)
{
    constexpr int kBoundMs = 120000;
    bool unfinishedBefore = false;
    QByteArray error;
    for (int attempt = 0; attempt < 3; ++attempt) {
        QProcess p;
        p.start(QStringLiteral("ip"), args);
        if (!p.waitForStarted(kBoundMs)) {
            error = p.errorString().toLocal8Bit();
            continue;
        }
        if (!p.waitForFinished(kBoundMs)) {
            p.kill();
            p.waitForFinished(kBoundMs);
            unfinishedBefore = true;
            error = "did not finish";
            continue;
        }
        if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        error = p.readAllStandardError();
        if (unfinishedBefore && error.contains("File exists"))
            return true;
        break;
    }
    std::fprintf(stderr, "ip %s: %s\n", qPrintable(args.join(QLatin1Char(' '))), error.constData());
    return false;
}
