#include "zelcameraparam.h"

#include <QJsonValue>

int CameraParam::initParams(QJsonObject)
{
    return 1;
}

void CameraParam::genDefaultConfig()
{
    QJsonObject record;
    record.insert(QStringLiteral("value"), 100);
    record.insert(QStringLiteral("max"), 200);
    record.insert(QStringLiteral("min"), 50);
    table_.insert(QStringLiteral("expose"), record);
}

int CameraParam::getParam(const QString& key, QVariant& value) const
{
    if (!table_.contains(key))
        return 0;
    value = table_.value(key).toVariant();
    return 1;
}

int CameraParam::getParams(const QStringList& keys, QMap<QString, QVariant>& values) const
{
    for (const QString& key : keys) {
        if (table_.contains(key))
            values.insert(key, table_.value(key).toVariant());
    }
    return 1;
}

void CameraParam::checkParams(const QStringList& keys, QMap<QString, QVariant>& values, bool detail) const
{
    for (const QString& key : keys) {
        if (!table_.contains(key))
            continue;
        const QJsonObject record = table_.value(key).toObject();
        if (detail)
            values.insert(key, record.toVariantMap());
        else
            values.insert(key, record.contains(QStringLiteral("value")) ? record.value(QStringLiteral("value")).toVariant()
                                                                         : QVariant());
    }
}

int CameraParam::setParams(const QMap<QString, QVariant>& values)
{
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (table_.contains(it.key()))
            table_.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
    return 1;
}

bool CameraParam::checkParamsType(const QMap<QString, QVariant>& values)
{
    for (const QVariant& v : values) {
        const int t = v.userType();
        if (t != QMetaType::Int && t != QMetaType::Double && t != QMetaType::QString)
            return false;
    }
    return true;
}

int CameraParam::getCapability(tZelCameraCapbility*) const
{
    return 1;
}
