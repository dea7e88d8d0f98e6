// Test helpers for the camera manager tests: in-process plug-ins and SN.db
// files (the operation record to watch is the view rig's RecordWindow).
#pragma once

#include "camerainterface.h"

#include <QByteArray>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QVector>

#include <memory>

// A camera object that does nothing but exist.
class FakeCamera : public CameraInterface {
    Q_OBJECT
public:
    explicit FakeCamera(int kind) : kind_(kind) {}
    int kind() override { return kind_; }

private:
    int kind_;
};

// A plug-in root that lists fixed serials.
class FakePlugin : public CameraInterface {
    Q_OBJECT
public:
    FakePlugin(const QString& name, int kind, const QStringList& serials)
        : name_(name), kind_(kind), serials_(serials) {}
    QString name() override { return name_; }
    int kind() override { return kind_; }
    QVector<_cameraInfo> enumCameras() override;
    CameraInterface* createCamera(_cameraInfo info) override;

    QVector<QPointer<FakeCamera>> created;
    bool refuse = false;  // createCamera() returns null

private:
    QString name_;
    int kind_;
    QStringList serials_;
};

QStringList serialsOf(const QVector<_cameraInfo>& cameras);
QStringList toList(const QVector<QString>& v);

// SN.db helpers. `rows` null: the file has no sysparam table.
bool writeSnDb(const QString& path, const QList<QPair<QString, QString>>& rows, bool withTable = true);
QMap<QString, QString> readSnDb(const QString& path);
QByteArray fileBytes(const QString& path);
