// The edge marks alone: which marks the record carries after each step of
// the board's thread and the cycle's pass, and that a mark never waits for
// the cycle's write in progress.
#include "edgemarks.h"

#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
// The record as stored, without its time line; "-" when nothing was stored.
QString shown(const QByteArray& text)
{
    QString s = QString::fromUtf8(text);
    s.remove(QRegularExpression(QStringLiteral("time=[^\n]*\n")));
    return s.replace('\n', ' ').trimmed();
}
}  // namespace

class TestEdgeMarks : public QObject {
    Q_OBJECT

private slots:
    // Events: "w" the cycle writes an empty record, "W" one holding an open
    // cycle; "eN@S" the board's thread marks an edge of input N numbered S,
    // "fN@S" a level found at its first report; "takeM" the pass takes the
    // inputs of mask M, "dropS" ends it with edges up to S taken; "fail"
    // the next store fails; "restoreE,F" a restart's marks, "first" the
    // first pass takes them (once); "clear".
    void order_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("record");   // the latest record stored
        QTest::newRow("no mark before the file is kept") << "e0@1" << "-";
        QTest::newRow("a mark goes with the empty record's base") << "w e0@1" << "cycle=0 edge=1";
        QTest::newRow("the pass's record keeps the mark until the pass ends") << "w e0@1 take1 W" << "cycle=1 edge=1";
        QTest::newRow("the pass ends: the mark goes with the next record") << "w e0@1 take1 W drop1 W" << "cycle=1";
        QTest::newRow("a mark of an edge a pass took is stale") << "w take1 drop2 e0@2" << "";
        QTest::newRow("a later edge of the input taken keeps its mark") << "w e0@1 take1 e0@2 drop1 W" << "cycle=1 edge=1";
        QTest::newRow("an input the pass did not take keeps its mark") << "w e0@1 e4@2 take1 drop2 W" << "cycle=1 edge=16";
        QTest::newRow("a level found is no edge, an edge wins") << "w f2@1 e0@2 e2@3" << "cycle=0 edge=5";
        QTest::newRow("a failed store takes no marks after it") << "w fail W e0@1" << "";
        QTest::newRow("a restart holds the previous run's marks") << "restore1,4 W" << "cycle=1 edge=1 found=4";
        QTest::newRow("the first pass takes them; written off after it") << "restore1,4 W first take5 drop0 W" << "cycle=1";
        QTest::newRow("stopped: no marks") << "W e3@1 clear w" << "";
    }
    void order()
    {
        QFETCH(QString, script);
        QFETCH(QString, record);
        QByteArray last = "-";
        bool failNext = false;
        EdgeMarks marks([&](const QByteArray& text, bool) {
            if (failNext) {
                failNext = false;
                return false;
            }
            last = text;
            return true;
        });
        for (const QString& e : script.split(' ')) {
            const int at = e.indexOf('@');
            if (e == "w" || e == "W") {
                const QByteArray body = e == "W" ? "cycle=1\n" : "";
                marks.write(body, body.isEmpty() ? QByteArray("cycle=0\n") : body);
            } else if (at > 0) {
                const int bit = 1 << e.mid(1, at - 1).toInt();
                marks.mark(e[0] == 'e' ? bit : 0, e[0] == 'f' ? bit : 0, e.mid(at + 1).toULongLong());
            } else if (e.startsWith("take")) {
                marks.taking(e.mid(4).toInt());
            } else if (e.startsWith("drop")) {
                marks.dropTaken(e.mid(4).toULongLong());
            } else if (e == "fail") {
                failNext = true;
            } else if (e.startsWith("restore")) {
                const QStringList v = e.mid(7).split(',');
                marks.restore(v[0].toInt(), v[1].toInt());
                QCOMPARE(marks.restoredInputs(), v[0].toInt() | v[1].toInt());
            } else if (e == "first") {
                const int inputs = marks.restoredInputs();
                int edges = 0;
                int found = 0;
                marks.takeRestored(&edges, &found);
                QCOMPARE(edges | found, inputs);
                marks.takeRestored(&edges, &found);
                QCOMPARE(edges | found, 0);
            } else if (e == "clear") {
                marks.clear("cycle=0\n");
            } else {
                QFAIL(qPrintable("unknown event " + e));
            }
        }
        QCOMPARE(shown(last), record);
    }

    // The cycle's store is slow (a disk that takes its time): a mark then
    // returns at once, and the cycle writes it before it lets the file go.
    void markNeverWaitsForTheCyclesWrite()
    {
        std::mutex m;
        std::condition_variable cv;
        QList<QByteArray> stored;
        bool released = false;
        EdgeMarks marks([&](const QByteArray& text, bool fromBoard) {
            std::unique_lock<std::mutex> l(m);
            stored << shown(text).toUtf8() + (fromBoard ? " by board" : "");
            cv.notify_all();
            cv.wait(l, [&] { return released || stored.size() != 2; });
            return true;
        });
        marks.write("", "cycle=0\n");
        std::atomic<bool> marked{false};
        std::thread cycle;
        std::thread board;
        // Released and joined also when a check fails: a joinable thread
        // left behind would abort the whole binary.
        const auto release = [&] {
            {
                std::lock_guard<std::mutex> l(m);
                released = true;
            }
            cv.notify_all();
            if (cycle.joinable())
                cycle.join();
            if (board.joinable())
                board.join();
        };
        const auto joinAtEnd = qScopeGuard(release);
        cycle = std::thread([&] { marks.write("cycle=1\n", "cycle=1\n"); });
        {
            std::unique_lock<std::mutex> l(m);
            QVERIFY(cv.wait_for(l, std::chrono::seconds(30), [&] { return stored.size() == 2; }));
        }
        board = std::thread([&] { marked = marks.mark(1, 0, 1); });
        QTRY_VERIFY_WITH_TIMEOUT(marked.load(), 30000);
        release();
        QCOMPARE(QString(stored.join('|')), QStringLiteral("|cycle=1|cycle=1 edge=1"));
    }
};

QTEST_GUILESS_MAIN(TestEdgeMarks)
#include "tst_edgemarks.moc"
