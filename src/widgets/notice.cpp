#include "notice.h"

#include <QGuiApplication>
#include <QScreen>

QPointer<Notice> Notice::current_;

Notice::Notice(QWidget* window) : QLabel(window)
{
    // A window of its own, so that it covers no control for good and never
    // takes the focus from a field being typed in.
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAlignment(Qt::AlignCenter);
    setStyleSheet(QStringLiteral("QLabel{color:white;background:#2e7d32;border:2px solid white;"
                                 "padding:10px 24px;font-size:%1px;}")
                      .arg(kTextPixels));
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &QWidget::hide);
}

Notice* Notice::post(QWidget* over, const QString& text)
{
    QWidget* window = over ? over->window() : nullptr;
    if (!current_ || current_->parentWidget() != window) {
        delete current_.data();
        current_ = new Notice(window);
    }
    Notice* n = current_;
    n->setText(text.trimmed());
    n->ensurePolished();   // the style sheet's font and padding
    n->resize(n->sizeHint());
    QRect area = window ? window->geometry() : QRect();
    if (area.isEmpty() && QGuiApplication::primaryScreen())
        area = QGuiApplication::primaryScreen()->geometry();
    n->move(area.center().x() - n->width() / 2, area.top() + area.height() * 3 / 4 - n->height() / 2);
    n->show();
    n->raise();
    n->timer_.start(kShownMs);
    qInfo("notice: %s", qPrintable(n->text()));
    return n;
}

Notice* Notice::shown()
{
    return current_ && current_->isVisible() ? current_.data() : nullptr;
}
