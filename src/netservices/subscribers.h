// The subscribers of the pushes: who registered for which topic and when.
//
// Key: "<ip>;<port>;<topic>", value: the time of the last registration in
// milliseconds since the epoch. The whole map is kept in an INI file under
// "subscriber_groups" and written (through a temporary file and a rename)
// only when it changed. Used on one thread only, the API server's.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class QSettings;

struct Skt_Session {
    QString ip;
    int port = 0;
};

class SubscriberRegistry {
public:
    static constexpr qint64 kLifetimeMs = 3600000;
    static constexpr int kMaxPerTopic = 32;

    SubscriberRegistry();
    ~SubscriberRegistry();

    // Forgets the current file and map and loads `iniPath`.
    void load(const QString& iniPath);
    bool isLoaded() const { return settings_ != nullptr; }

    // Registers every usable element of the request's "subscriber" array,
    // prunes expired entries and returns all keys in key order.
    QStringList registerFrom(const QJsonValue& subscriber, qint64 nowMs);

    // The live subscribers of exactly `topic` (expired entries are removed);
    // only parseable addresses and ports 1-65535, at most kMaxPerTopic.
    QList<Skt_Session> lookup(const QString& topic, qint64 nowMs);

    QStringList keys() const { return map_.keys(); }
    QMap<QString, QVariant> map() const { return map_; }

private:
    void save();

    std::unique_ptr<QSettings> settings_;
    QMap<QString, QVariant> map_;
};
