#include "subscribers.h"

#include "peertrafficlog.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QSettings>

namespace {
const QString kGroupsKey = QStringLiteral("subscriber_groups");

QString topicOf(const QString& key)
{
    const QStringList parts = key.split(QLatin1Char(';'));
    return parts.size() == 3 ? parts[2] : QString();
}
}  // namespace

SubscriberRegistry::SubscriberRegistry() = default;
SubscriberRegistry::~SubscriberRegistry() = default;

void SubscriberRegistry::load(const QString& iniPath)
{
    settings_ = std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
    map_ = settings_->value(kGroupsKey).toMap();
}

void SubscriberRegistry::save()
{
    if (!settings_)
        return;
    settings_->setValue(kGroupsKey, map_);
    settings_->sync();
    if (settings_->status() != QSettings::NoError)
        qWarning("subscriber list: cannot write %s", qPrintable(settings_->fileName()));
}

QStringList SubscriberRegistry::registerFrom(const QJsonValue& subscriber, qint64 nowMs)
{
    bool changed = false;
    const QJsonArray elements = subscriber.toArray();
    for (const QJsonValue& e : elements) {
        const QJsonObject o = e.toObject();
        if (!o.contains(QStringLiteral("subscriber_ip")) || !o.contains(QStringLiteral("subscriber_port")))
            continue;
        const QString ip = o.value(QStringLiteral("subscriber_ip")).toString();
        const int port = o.value(QStringLiteral("subscriber_port")).toInt(0);
        const QString topic = o.value(QStringLiteral("subscriber_topic")).toString();
        if (!topic.contains(QLatin1String("detected_info")) && !topic.contains(QLatin1String("detected_picture")))
            continue;
        const QString key = QStringLiteral("%1;%2;%3").arg(ip).arg(port).arg(topic);
        if (!map_.contains(key)) {
            int sameTopic = 0;
            for (auto it = map_.cbegin(); it != map_.cend(); ++it)
                if (nowMs - it.value().toLongLong() <= kLifetimeMs && topicOf(it.key()) == topic)
                    ++sameTopic;
            if (sameTopic >= kMaxPerTopic) {
                static PeerTrafficLog refused(QStringLiteral("[Subscriber] refused, the topic has all its subscribers"));
                refused.note(QStringLiteral("%1 (%2 already)").arg(key).arg(kMaxPerTopic));
                continue;
            }
        }
        map_.insert(key, QVariant::fromValue<qint64>(nowMs));
        changed = true;
    }
    if (changed)
        save();
    lookup(QString(), nowMs);  // prunes and saves what expired
    return map_.keys();
}

QList<Skt_Session> SubscriberRegistry::lookup(const QString& topic, qint64 nowMs)
{
    QList<Skt_Session> out;
    bool changed = false;
    for (auto it = map_.begin(); it != map_.end();) {
        if (nowMs - it.value().toLongLong() > kLifetimeMs) {
            it = map_.erase(it);
            changed = true;
            continue;
        }
        const QStringList parts = it.key().split(QLatin1Char(';'));
        ++it;
        if (parts.size() != 3 || parts[2] != topic || parts[0].isEmpty())
            continue;
        bool ok = false;
        const int port = parts[1].toInt(&ok);
        if (!ok || port < 1 || port > 65535 || QHostAddress(parts[0]).isNull())
            continue;
        if (out.size() >= kMaxPerTopic)
            continue;
        out.append(Skt_Session{parts[0], port});
    }
    if (changed)
        save();
    return out;
}
