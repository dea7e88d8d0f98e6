// Cutting a byte stream into messages: wherever the stream is split, the
// records are the same; the reactor's task table follows the receive.
#include "session.h"
#include "support_net.h"
#include "tcpreactor.h"

#include <QJsonDocument>
#include <QTest>

using nettest::cutStream;
using nettest::wireBytes;

namespace {

QByteArray sampleStream()
{
    QByteArray s;
    CTask_FormData a;
    a.url = "/v18/http/a";
    a.taskId = "ida";
    a.query.insert("x", "1");
    a.json.insert("text", QString::fromUtf8("größe"));
    s += wireBytes(a);

    CTask_FormData b;
    b.url = "/v18/http/pic";
    b.taskId = "idb";
    b.form.insert("meta", QJsonObject{{"n", 1}});
    cv::Mat m(6, 7, CV_8UC3);
    cv::randu(m, 0, 255);
    b.images.insert("cam0", m);
    s += wireBytes(b);

    CTask_FormData c;
    c.taskId = "idc";
    c.json.insert("ok", true);
    s += wireBytes(c);

    CTask_FormData d;
    d.url = "/empty";
    d.taskId = "idd";
    s += wireBytes(d);

    CTask_FormData e;
    e.taskId = "ide";
    e.files.insert("", QByteArray("\r\n\r\nHTTP/1.1 inside a body", 27));
    e.contentType = "application/octet-stream";
    s += wireBytes(e);
    return s;
}

QString describe(const CTask_FormData& r)
{
    QStringList parts;
    parts << r.url << r.taskId << QString::number(r.sessionIndex)
          << QString::fromUtf8(QJsonDocument(r.json).toJson(QJsonDocument::Compact)) << QString::fromLatin1(r.body.toHex());
    for (auto it = r.query.cbegin(); it != r.query.cend(); ++it)
        parts << it.key() + "=" + it.value();
    for (auto it = r.form.cbegin(); it != r.form.cend(); ++it)
        parts << it.key() + ":" + QString::fromUtf8(QJsonDocument(it.value().value<QJsonObject>()).toJson());
    for (auto it = r.files.cbegin(); it != r.files.cend(); ++it)
        parts << it.key() + ">" + QString::fromLatin1(it.value().toHex());
    for (auto it = r.images.cbegin(); it != r.images.cend(); ++it) {
        const cv::Mat& m = it.value();
        parts << it.key() + QString("#%1x%2x%3").arg(m.cols).arg(m.rows).arg(m.channels()) +
                     QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(m.data), int(m.total() * m.elemSize())).toHex());
    }
    return parts.join("|");
}

QStringList describeAll(const QList<CTask_FormData>& list)
{
    QStringList out;
    for (const CTask_FormData& r : list)
        out << describe(r);
    return out;
}

}  // namespace

class TstSession : public QObject {
    Q_OBJECT
private slots:
    void cutAtEveryPosition();
    void cutAtRandomPositions();
    void bytewiseFeed();
    void taskTableFollowsTheReceive();
    void replyKeepsItsTaskEntry();
};

void TstSession::cutAtEveryPosition()
{
    const QByteArray stream = sampleStream();
    const QStringList reference = describeAll(cutStream(stream));
    QCOMPARE(reference.size(), 5);
    for (int k = 1; k < stream.size(); ++k) {
        const QStringList got = describeAll(cutStream(stream, {k}));
        if (got != reference)
            QFAIL(qPrintable(QString("split at %1 of %2 changes the records").arg(k).arg(stream.size())));
    }
}

void TstSession::cutAtRandomPositions()
{
    const QByteArray stream = sampleStream();
    const QStringList reference = describeAll(cutStream(stream));
    std::srand(7);
    for (int round = 0; round < 300; ++round) {
        QList<int> splits;
        for (int i = 0; i < 6; ++i)
            splits << 1 + std::rand() % (stream.size() - 1);
        std::sort(splits.begin(), splits.end());
        QCOMPARE(describeAll(cutStream(stream, splits)), reference);
    }
}

void TstSession::bytewiseFeed()
{
    const QByteArray stream = sampleStream();
    QList<int> splits;
    for (int i = 1; i < stream.size(); ++i)
        splits << i;
    QCOMPARE(describeAll(cutStream(stream, splits)), describeAll(cutStream(stream)));
}

void TstSession::taskTableFollowsTheReceive()
{
    XANC::TcpServReactor reactor;
    Session session(&reactor, nullptr, 3);
    QList<CTask_FormData> got;
    connect(&session, &Session::sigRequest, [&got](CTask_FormData r) { got << r; });

    session.feedBytes("POST /t HTTP/1.1\r\nUser-Agent: task-1\r\nContent-Length: 10\r\n\r\n0123");
    QCOMPARE(reactor.taskCount(), 1);
    const TcpTsk_Info during = reactor.getTcpTask("task-1").getValue();
    QCOMPARE(during.url, QString("task-1"));
    QCOMPARE(during.recvpacklength, 10);
    QCOMPARE(during.recv_times, qint64(1));
    QVERIFY(during.firstrecv_timing > 0);
    QCOMPARE(during.finishrecv_timing, qint64(-1));
    session.feedBytes("45");
    session.feedBytes("6789");
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().sessionIndex, 3);
    const QList<TcpTsk_Info> tasks = got.first().tasksCopy();
    QCOMPARE(tasks.size(), 1);
    QCOMPARE(tasks.first().recv_times, qint64(3));
    QVERIFY(tasks.first().finishrecv_timing >= tasks.first().firstrecv_timing);
    // A delivered request leaves the table.
    QCOMPARE(reactor.taskCount(), 0);
}

void TstSession::replyKeepsItsTaskEntry()
{
    XANC::TcpServReactor reactor;
    CTask_FormData mine;
    mine.url = "/asked";
    mine.taskId = "mine-1";
    reactor.append_TcpTask(mine);
    Session session(&reactor, nullptr, 4);
    QList<CTask_FormData> got;
    connect(&session, &Session::sigResponse, [&got](CTask_FormData r) { got << r; });
    session.feedBytes("HTTP/1.1 200 OK\r\nUser-Agent: mine-1\r\nContent-Length: 2\r\n\r\nok");
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().tasksCopy().size(), 1);
    QCOMPARE(got.first().tasksCopy().first().url, QString("/asked"));
    // Settling the entry of a reply is the reactor's business, not the session's.
    QVERIFY(reactor.isAliveTcpTask("mine-1"));
}

QTEST_GUILESS_MAIN(TstSession)
#include "tst_session.moc"
