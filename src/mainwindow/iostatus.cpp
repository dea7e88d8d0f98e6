#include "iostatus.h"

#include "globals.h"
#include "rivurevezi.h"

#include <QMutexLocker>
#include <QPainter>

IOStatusWidget::IOStatusWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(96);
    connect(&timer_, &QTimer::timeout, this, &IOStatusWidget::refresh);
    timer_.start(200);
}

void IOStatusWidget::refresh()
{
    int in = 0;
    int out = 0;
    if (pMutexIO) {
        QMutexLocker lock(pMutexIO);
        in = gDataIn;
        out = gDataOut;
    }
    in_ = in;
    out_ = out;
    update();
}

void IOStatusWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(32, 36, 44));
    p.setFont(QFont(QStringLiteral("wqy-microhei"), 9));
    const int lamp = 14;
    auto row = [&](int y, int word, const QString& title, bool inputs) {
        p.setPen(Qt::white);
        p.drawText(6, y + lamp, title);
        for (int i = 0; i < 10; ++i) {
            const int x = 60 + i * 58;
            const bool on = word >= 0 && ((word >> i) & 1);
            p.setBrush(on ? (inputs ? QColor(80, 220, 90) : QColor(255, 170, 40)) : QColor(70, 70, 70));
            p.setPen(Qt::black);
            p.drawEllipse(x, y + 2, lamp, lamp);
            p.setPen(QColor(210, 210, 210));
            QString name = QString::number(i + 1);
            if (inputs && i < 8 && !gaName[i].isEmpty())
                name = gaName[i];
            p.drawText(x + lamp + 3, y + lamp, name.left(6));
        }
    };
    row(4, in_, QStringLiteral("IN"), true);
    row(26, out_, QStringLiteral("OUT"), false);

    int all = 0, fail = 0;
    for (int c = 0; c < kMaxCamera; ++c) {
        // Every camera sees every cycle: show the busiest one.
        all = qMax(all, gAllCycleNum[c]);
        fail = qMax(fail, gFailCycleNum[c]);
    }
    p.setPen(Qt::white);
    QString state;
    if (gpWin) {
        static const char* const kRun[] = {"", "RUN", "TRAIN", "STOP"};
        static const char* const kDet[] = {"-", "OK", "NG", "ROI"};
        const int r = gpWin->runState;
        const int d = gpWin->detectState;
        state = QStringLiteral("%1  %2  step %3").arg(QString::fromLatin1(r >= 0 && r <= 3 ? kRun[r] : "?"),
                                                   QString::fromLatin1(d >= 0 && d <= 3 ? kDet[d] : "?"))
                    .arg(gpWin->runStep + 1);
    }
    p.drawText(6, 66, state);
    p.drawText(6, 86, QStringLiteral("cycles %1   NG cycles %2   NG %3").arg(all).arg(fail).arg(gSyncNGNum));
}
