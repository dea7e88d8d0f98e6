#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>

// Timing record of one task id in a reactor's task table.
class TcpTsk_Info {
public:
    TcpTsk_Info();                           // empty strings, -1 everywhere
    explicit TcpTsk_Info(const QString& id);  // uuid = id, create_timing = now

    QString url;
    qint64 create_timing = -1;
    qint64 firstrecv_timing = -1;
    qint64 finishrecv_timing = -1;
    qint64 finishact_timing = -1;
    qint64 recv_times = -1;
    QString uuid;
    int recvpacklength = -1;

    QMap<QString, QVariant> getReportParam() const;
    void tskup_chg_recvpacklength(const QList<QVariant>& values);

    // Monotonic creation time and insertion number; the reactor ages and
    // caps its table with them.
    qint64 create_mono = 0;
    quint64 seq = 0;
};

Q_DECLARE_METATYPE(TcpTsk_Info)
