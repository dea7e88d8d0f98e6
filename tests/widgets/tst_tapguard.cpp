// The tap guard by taps from the screen (through the widgets' window, as the
// platform delivers them): the second tap of a double tap on what closed
// reaches nothing beneath, not even the keyboard focus; a tap made once the
// guard's time is over acts.
#include "tapguard.h"
#include "windowtaps.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <functional>

class TestTapGuard : public QObject {
    Q_OBJECT

    QWidget* win = nullptr;
    QLineEdit* start = nullptr;  // holds the focus before each case
    QLineEdit* field = nullptr;  // what lies beneath the closing surface
    int presses = 0;
    ulong clock = 1000;  // the screen's clock, on which each tap is made

    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == field && (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonDblClick))
            ++presses;
        return false;
    }

    // A press and a release at `at`, made `afterMs` after the last tap,
    // handed to the window that takes them (an open popup's, else the main
    // window's), as the platform does.
    void tapAt(const QPoint& at, int afterMs)
    {
        clock += ulong(afterMs);
        tapThroughWindow(win, at, clock, clock + 60);
        clock += 60;
    }

private slots:
    void initTestCase()
    {
        tapguard::install();
        // Every tap here carries the time it was made.
        tapguard::setClock([] { return qint64(0); });
        win = new QWidget;
        win->setGeometry(0, 0, 400, 300);
        start = new QLineEdit(win);
        start->setGeometry(300, 10, 80, 30);
        field = new QLineEdit(win);
        field->setGeometry(10, 60, 200, 40);
        field->installEventFilter(this);
        win->show();
        win->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(win));
    }

    void cleanupTestCase() { delete win; }

    // Each surface is opened so that the tap that closes it lies on the
    // field; the second tap comes 150 ms later (swallowed) or 600 ms later
    // (a tap of its own, taken).
    void secondTapReachesNothingBeneath_data()
    {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<bool>("taken");
        for (const char* s : {"dropdown_row", "dialog_button"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1_150ms").arg(s))) << s << 150 << false;
            QTest::newRow(qPrintable(QStringLiteral("%1_600ms").arg(s))) << s << 600 << true;
        }
    }

    void secondTapReachesNothingBeneath()
    {
        QFETCH(QString, surface);
        QFETCH(int, afterMs);
        QFETCH(bool, taken);
        const QPoint at = field->mapToGlobal(field->rect().center());
        QComboBox combo(win);
        QDialog dialog(win);
        QPushButton ok(QStringLiteral("OK"), &dialog);
        std::function<bool()> closed;
        if (surface == "dropdown_row") {
            combo.addItems({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
            combo.setGeometry(10, 10, 200, 40);
            combo.show();
            combo.showPopup();
            QTRY_VERIFY(combo.view()->isVisible());
            // The popup is placed by the platform: the row the tap takes
            // is the one lying over the field.
            const QModelIndex row = combo.view()->indexAt(combo.view()->viewport()->mapFromGlobal(at));
            QVERIFY(row.isValid());
            closed = [&combo, row] { return !combo.view()->isVisible() && combo.currentIndex() == row.row(); };
        } else {
            dialog.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
            dialog.setGeometry(QRect(at - QPoint(50, 20), QSize(100, 40)));
            ok.setGeometry(0, 0, 100, 40);
            connect(&ok, &QPushButton::clicked, &dialog, &QDialog::accept);
            dialog.open();
            QTRY_VERIFY(dialog.isVisible());
            closed = [&dialog] { return !dialog.isVisible(); };
        }
        start->setFocus();
        presses = 0;
        const int swallowed = tapguard::swallowed();
        tapAt(at, 1000);
        QVERIFY(closed());
        // The window that had the surface over it has the focus back.
        win->activateWindow();
        QTRY_VERIFY(QApplication::focusWidget() == start);

        tapAt(at, afterMs);
        QCOMPARE(tapguard::swallowed(), swallowed + (taken ? 0 : 1));
        QCOMPARE(presses, taken ? 1 : 0);
        QCOMPARE(QApplication::focusWidget(), taken ? static_cast<QWidget*>(field) : static_cast<QWidget*>(start));
    }

    // A page or a box that came up by itself over the field takes no tap
    // made before it was shown, nor one 300 ms after; one 600 ms after acts.
    void surfaceThatCameUpTakesNoEarlyTap_data()
    {
        QTest::addColumn<bool>("box");
        QTest::addColumn<int>("afterMs");   // tap made after the surface came up
        for (bool box : {false, true})
            for (int ms : {-200, 300, 600})
                QTest::newRow(qPrintable(QStringLiteral("%1_%2ms").arg(box ? "box" : "page").arg(ms))) << box << ms;
    }

    void surfaceThatCameUpTakesNoEarlyTap()
    {
        QFETCH(bool, box);
        QFETCH(int, afterMs);
        const bool taken = afterMs == 600;
        const QPoint at = field->mapToGlobal(field->rect().center());
        // A tap elsewhere, read at once, sets the taps' clock against the program's.
        tapAt(start->mapToGlobal(start->rect().center()), 1000);
        QDialog dialog(win, Qt::Dialog | Qt::FramelessWindowHint);
        QWidget page(win);
        QWidget* surface = box ? static_cast<QWidget*>(&dialog) : &page;
        surface->setGeometry(box ? QRect(at - QPoint(60, 30), QSize(120, 60)) : QRect(0, 50, 300, 80));
        QPushButton button(QStringLiteral("Re-detected"), surface);
        button.setGeometry(surface->rect());
        QSignalSpy pressed(&button, &QPushButton::pressed);
        box ? dialog.open() : page.show();
        QVERIFY(QTest::qWaitForWindowExposed(surface->window()));
        tapguard::cameUp(surface);
        const int swallowed = tapguard::swallowed();
        clock -= 60;   // it came as the last tap was lifted
        tapAt(at, afterMs);
        QCOMPARE(tapguard::swallowed(), swallowed + (taken ? 0 : 1));
        QCOMPARE(pressed.count(), taken ? 1 : 0);
    }
};

QTEST_MAIN(TestTapGuard)
#include "tst_tapguard.moc"
