#include "tcptsk_info.h"

#include "publictools.h"

TcpTsk_Info::TcpTsk_Info() = default;

TcpTsk_Info::TcpTsk_Info(const QString& id)
    : create_timing(::gettimeofday_ms()), uuid(id), create_mono(::monotonic_ms())
{
}

QMap<QString, QVariant> TcpTsk_Info::getReportParam() const
{
    QMap<QString, QVariant> m;
    m.insert(QStringLiteral("_tsk_url"), url);
    m.insert(QStringLiteral("_tsk_uuid"), uuid);
    m.insert(QStringLiteral("_tsk_recvpacklength"), recvpacklength);
    m.insert(QStringLiteral("_tsk_create_timing"), create_timing);
    m.insert(QStringLiteral("_tsk_firstrecv_timing"), firstrecv_timing);
    m.insert(QStringLiteral("_tsk_finishrecv_timing"), finishrecv_timing);
    m.insert(QStringLiteral("_tsk_finishact_timing"), finishact_timing);
    m.insert(QStringLiteral("_tsk_recv_times"), recv_times);
    return m;
}

void TcpTsk_Info::tskup_chg_recvpacklength(const QList<QVariant>& values)
{
    if (!values.isEmpty() && values.first().userType() == QMetaType::Int)
        recvpacklength = values.first().toInt();
}
