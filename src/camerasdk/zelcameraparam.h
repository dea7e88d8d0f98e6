// The camera's parameter table: one record {"value", "max", "min"} per
// parameter name, as the camera reports it over its control link.
#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

// A capability record; the cameras report no capabilities yet.
struct tZelCameraCapbility {
    int reserved[8] = {};
};

class CameraParam {
public:
    CameraParam() = default;

    int initParams(QJsonObject);
    // Sets the "expose" entry to {"value": 100, "max": 200, "min": 50}.
    void genDefaultConfig();
    // 1 and the whole entry when the table holds `key`; 0 and nothing changed otherwise.
    int getParam(const QString& key, QVariant& value) const;
    int getParams(const QStringList& keys, QMap<QString, QVariant>& values) const;
    // Copies the asked entries: the "value" member, or with `detail` the whole record.
    void checkParams(const QStringList& keys, QMap<QString, QVariant>& values, bool detail) const;
    // Replaces the entries whose keys the table already holds.
    int setParams(const QMap<QString, QVariant>& values);
    // True when every value is an int, a double or a text.
    static bool checkParamsType(const QMap<QString, QVariant>& values);
    int getCapability(tZelCameraCapbility*) const;

    const QJsonObject& paramTable() const { return table_; }

protected:
    QJsonObject table_;
};
