// A temporary working folder for a test: the process changes into it and
// back again, so that the program's relative paths land inside it.
#pragma once

#include <QDir>
#include <QTemporaryDir>

class TestWorkDir {
public:
    TestWorkDir() : old_(QDir::currentPath())
    {
        QDir::setCurrent(dir_.path());
        QDir().mkpath(QStringLiteral("cnt_net/workspace/log"));
        QDir().mkpath(QStringLiteral("paraGroup/default"));
        QDir().mkpath(QStringLiteral("images"));
        QDir().mkpath(QStringLiteral("RECORD"));
    }
    ~TestWorkDir() { QDir::setCurrent(old_); }
    QString path() const { return dir_.path(); }
    QString file(const QString& rel) const { return dir_.filePath(rel); }

private:
    QTemporaryDir dir_;
    QString old_;
};
