// Where a message head starts: the TCP sessions and the UDP reactor both cut
// the noise before a message at the line the scanner finds.
#include "startline.h"

#include <QtTest>

class TstStartLine : public QObject {
    Q_OBJECT
private slots:
    void findsFirstLineNamingTheProtocol_data();
    void findsFirstLineNamingTheProtocol();
};

void TstStartLine::findsFirstLineNamingTheProtocol_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("start");

    const QByteArray longNoise(100000, 'x');
    const QByteArray longTarget = "GET /" + QByteArray(70000, 'a') + " HTTP/1.1";

    // Good heads.
    QTest::newRow("request") << QByteArray("GET /a HTTP/1.1\r\nHost: x") << 0;
    QTest::newRow("response") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0") << 0;
    QTest::newRow("start line alone") << QByteArray("POST /b HTTP/1.1") << 0;
    QTest::newRow("after noise") << QByteArray("junk\r\nmore\r\nGET / HTTP/1.1\r\nA: b") << 12;
    QTest::newRow("after an empty line") << QByteArray("\r\nHTTP/1.1 200 OK") << 2;
    QTest::newRow("first of two") << QByteArray("n\r\nHTTP/1.1 200 OK\r\nGET / HTTP/1.1") << 3;
    QTest::newRow("name in a header") << QByteArray("noise\r\nVia: HTTP/1.1 proxy") << 7;
    // A bare CR or LF ends no line: the noise and the start line are one.
    QTest::newRow("bare LF") << QByteArray("noise\nGET / HTTP/1.1") << 0;
    QTest::newRow("bare CR") << QByteArray("noise\rGET / HTTP/1.1") << 0;
    QTest::newRow("CR before CR LF") << QByteArray("noise\r\r\nGET / HTTP/1.1") << 8;
    QTest::newRow("NUL in the noise") << QByteArray("a\0b\r\nGET / HTTP/1.1", 19) << 5;

    // Bad heads: no line names the protocol.
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n") << -1;
    QTest::newRow("other version") << QByteArray("GET / HTTP/1.0\r\nHost: x") << -1;
    QTest::newRow("lower case") << QByteArray("GET / http/1.1") << -1;
    QTest::newRow("name split by a line end") << QByteArray("GET / HTTP/1.\r\n1") << -1;

    // Partial heads: the name cut short at the end.
    QTest::newRow("cut in the name") << QByteArray("junk\r\nGET / HTTP/1") << -1;
    QTest::newRow("cut before the name") << QByteArray("GET / ") << -1;

    // Over-long lines are scanned whole, not cut at any length.
    QTest::newRow("long noise line") << longNoise + "\r\nHTTP/1.1 200 OK" << longNoise.size() + 2;
    QTest::newRow("long start line") << "junk\r\n" + longTarget << 6;
    QTest::newRow("long noise only") << longNoise + "\r\n" + longNoise << -1;
}

void TstStartLine::findsFirstLineNamingTheProtocol()
{
    QFETCH(QByteArray, head);
    QFETCH(int, start);
    QCOMPARE(startline::find(head), start);
}

QTEST_APPLESS_MAIN(TstStartLine)
#include "tst_startline.moc"
