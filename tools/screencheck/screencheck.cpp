#include "screencheck.h"

#include "colorbutton.h"
#include "publictools_widget.h"
#include "slider.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

QString nameOf(const QWidget* w)
{
    QString text = w->objectName();
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        text = b->text();
    else if (auto* l = qobject_cast<const QLabel*>(w))
        text = l->text();
    else if (auto* c = qobject_cast<const QComboBox*>(w))
        text = c->currentText();
    const QWidget* parent = w->parentWidget();
    return QStringLiteral("%1 \"%2\" in %3")
        .arg(QString::fromLatin1(w->metaObject()->className()), text,
             QString::fromLatin1(parent ? parent->metaObject()->className() : "-"));
}

// The room a widget's own text has and the font it is drawn with; an
// invalid size when it shows no text that could be cut.
QSize textRoom(const QWidget* w, QString* text, QFont* font)
{
    *font = w->font();
    if (auto* s = qobject_cast<const Slider*>(w)) {
        *text = s->objectName();
        *font = s->captionFont();
        return s->captionRect().size();
    }
    if (auto* c = qobject_cast<const CheckBox*>(w)) {
        *text = c->text();
        *font = c->captionFont();
        return c->captionRect().size();
    }
    if (auto* c = qobject_cast<const QCheckBox*>(w)) {
        *text = c->text();
        QStyleOptionButton opt;
        opt.initFrom(c);
        opt.text = c->text();
        return c->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, c).size();
    }
    if (auto* b = qobject_cast<const ColorButton*>(w)) {
        *text = b->shownCaption();
        return QSize(b->width() - 10, b->height() - 2);   // the rounded corners
    }
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
        *text = b->text();
        return QSize(b->width() - 10, b->height() - 2);   // the rounded corners
    }
    if (auto* l = qobject_cast<const QLabel*>(w)) {
        if (l->wordWrap())
            return QSize();
        *text = l->text();
        return l->contentsRect().size();
    }
    if (auto* c = qobject_cast<const QComboBox*>(w)) {
        *text = c->currentText();
        return QSize(c->width() - 30, c->height());   // the drop-down arrow
    }
    return QSize();
}

// A word of the caption that is drawn split over two lines, or wider than
// a wrapping caption's width (the line would break inside it); empty when
// every line breaks between words.
QString brokenWord(const QWidget* w)
{
    if (auto* b = qobject_cast<const ColorButton*>(w)) {
        const QString shown = b->shownCaption();
        if (!shown.contains(QLatin1Char('\n')))
            return QString();
        const QStringList own = unbreakableWords(b->text());
        for (const QString& word : unbreakableWords(QString(shown).replace(QLatin1Char('\n'), QLatin1Char(' '))))
            if (!own.contains(word))
                return word;
        return QString();
    }
    QString text;
    QFont font;
    int width = 0;
    if (auto* l = qobject_cast<const QLabel*>(w)) {
        if (!l->wordWrap() || l->textFormat() == Qt::RichText)
            return QString();
        text = l->text();
        font = l->font();
        width = l->contentsRect().width();
    } else if (auto* c = qobject_cast<const CheckBox*>(w)) {
        text = c->text();
        font = c->captionFont();
        width = c->captionRect().width();
    } else {
        return QString();
    }
    const QFontMetrics fm(font);
    for (const QString& word : unbreakableWords(text))
        if (fm.horizontalAdvance(word) > width)
            return word;
    return QString();
}

int pixels(const QFont& f)
{
    return QFontInfo(f).pixelSize();
}

bool looked(const QWidget* w)
{
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLabel*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const Slider*>(w) || qobject_cast<const QLineEdit*>(w);
}

}  // namespace

QStringList ScreenCheck::faults(QWidget* top, QPoint windowAt, QRect screen)
{
    QStringList found;
    QList<QWidget*> widgets = top->findChildren<QWidget*>();
    widgets.prepend(top);
    for (QWidget* w : widgets) {
        if (!w->isVisible() || !looked(w))
            continue;
        const QRect at(windowAt + w->mapTo(w->window(), QPoint(0, 0)), w->size());
        if (!screen.contains(at))
            found << QStringLiteral("off the screen at (%1,%2 %3x%4): %5")
                         .arg(at.x()).arg(at.y()).arg(at.width()).arg(at.height()).arg(nameOf(w));
        QString text;
        QFont font;
        const QSize room = textRoom(w, &text, &font);
        QSize need = QFontMetrics(font).size(0, text);
        if (qobject_cast<const CheckBox*>(w))
            need = QFontMetrics(font).size(0, wrapAtWords(text, QFontMetrics(font), room.width()));
        if (!text.isEmpty() && room.isValid() && (need.width() > room.width() || need.height() > room.height()))
            found << QStringLiteral("text cut (%1 px font, needs %2 x %3 of %4 x %5): %6")
                         .arg(font.pixelSize()).arg(need.width()).arg(need.height())
                         .arg(room.width()).arg(room.height()).arg(nameOf(w));
        const QString broken = brokenWord(w);
        if (!broken.isEmpty())
            found << QStringLiteral("caption broken inside the word \"%1\": %2").arg(broken, nameOf(w));
        const bool control = qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w) ||
                             qobject_cast<const QLineEdit*>(w);
        auto* edit = qobject_cast<const QLineEdit*>(w);
        const bool showsText = !text.isEmpty() || (edit && !edit->text().isEmpty());
        if (control && showsText && QFontInfo(font).pixelSize() < kControlTextPixels)
            found << QStringLiteral("text %1 px on a control: %2").arg(QFontInfo(font).pixelSize()).arg(nameOf(w));
        if (auto* c = qobject_cast<const ComboBox*>(w)) {
            const int row = c->count() > 0 ? c->view()->sizeHintForRow(0) : c->itemHeight();
            if (row < c->itemHeight())
                found << QStringLiteral("drop-down rows %1 px of %2: %3").arg(row).arg(c->itemHeight()).arg(nameOf(w));
        }
    }
    for (QWidget* parent : widgets) {
        if (!parent->isVisible())
            continue;
        QList<QWidget*> kids;
        for (QObject* o : parent->children()) {
            auto* k = qobject_cast<QWidget*>(o);
            if (k && !k->isWindow() && k->isVisible() && looked(k))
                kids << k;
        }
        for (int i = 0; i < kids.size(); ++i)
            for (int j = i + 1; j < kids.size(); ++j)
                if (kids[i]->geometry().intersects(kids[j]->geometry()))
                    found << QStringLiteral("overlap: %1 and %2").arg(nameOf(kids[i]), nameOf(kids[j]));
    }
    return found;
}

QStringList ScreenCheck::touchFaults(QWidget* top)
{
    QStringList found;
    QList<QWidget*> widgets = top->findChildren<QWidget*>();
    widgets.prepend(top);
    for (QWidget* w : widgets) {
        if (!w->isVisible())
            continue;
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w)
                             || qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w);
        if (!control || qobject_cast<QAbstractSpinBox*>(w->parentWidget()) || qobject_cast<QComboBox*>(w->parentWidget()))
            continue;
        if (w->height() < kTouchHeight)
            found << QStringLiteral("touch target %1 px high: %2").arg(w->height()).arg(nameOf(w));
        QString text;
        QFont font;
        textRoom(w, &text, &font);
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w))
            font = w->font();
        if (pixels(font) < kControlPixels && (!text.isEmpty() || !qobject_cast<QAbstractButton*>(w)))
            found << QStringLiteral("text %1 px: %2").arg(pixels(font)).arg(nameOf(w));
        if (auto* c = qobject_cast<QCheckBox*>(w)) {
            if (!qobject_cast<CheckBox*>(c) || c->text().isEmpty())
                found << QStringLiteral("check box without its caption (a tap on the caption does nothing): %1")
                             .arg(nameOf(w));
        }
        if (auto* c = qobject_cast<QComboBox*>(w)) {
            const int row = c->count() > 0 ? c->view()->sizeHintForRow(0) : 0;
            QFont rowFont = c->view()->font();
            if (auto* d = dynamic_cast<TouchRowDelegate*>(c->view()->itemDelegate()))
                rowFont = d->rowFont();
            if (c->count() > 0 && row < kTouchHeight)
                found << QStringLiteral("drop-down rows %1 px high: %2").arg(row).arg(nameOf(w));
            if (pixels(rowFont) < kControlPixels)
                found << QStringLiteral("drop-down text %1 px: %2").arg(pixels(rowFont)).arg(nameOf(w));
        }
    }
    for (QAbstractItemView* list : top->findChildren<QAbstractItemView*>()) {
        if (!list->isVisible() || !list->model() || list->model()->rowCount() == 0)
            continue;
        if (pixels(list->font()) < kListPixels)
            found << QStringLiteral("list text %1 px: %2").arg(pixels(list->font())).arg(nameOf(list));
    }
    return found;
}

QStringList ScreenCheck::padFaults(QWidget* pad, QRect screen)
{
    QStringList found;
    if (!pad || !pad->isVisible())
        return {QStringLiteral("no pad shown")};
    const QRect at(pad->mapToGlobal(QPoint(0, 0)), pad->size());
    if (!screen.contains(at))
        found << QStringLiteral("pad off the screen at (%1,%2 %3x%4)").arg(at.x()).arg(at.y()).arg(at.width()).arg(at.height());
    QWidget* own = pad->window();
    // Windows drawn over the pad's window: those opened over it (owned by
    // it), and a modal window that the pad's window does not belong to.
    auto ownedBy = [](const QWidget* w, const QWidget* owner) {
        for (const QWidget* p = w; p; p = p->parentWidget())
            if (p == owner)
                return true;
        return false;
    };
    QWidget* modal = QApplication::activeModalWidget();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w == own || ownedBy(own, w))
            continue;
        const bool above = ownedBy(w, own) || (w == modal && !ownedBy(own, modal));
        if (above && w->frameGeometry().intersects(at))
            found << QStringLiteral("pad covered by %1 \"%2\"")
                         .arg(QString::fromLatin1(w->metaObject()->className()), w->windowTitle());
    }
    // Every key can be reached: nothing of the pad's own window covers it.
    for (QWidget* sibling : own->findChildren<QWidget*>()) {
        if (sibling == pad || !sibling->isVisible() || sibling->isWindow() || pad->isWindow())
            continue;
        if (sibling->parentWidget() == pad->parentWidget() && sibling->geometry().intersects(pad->geometry())) {
            const QObjectList& kids = pad->parentWidget()->children();
            if (kids.indexOf(sibling) > kids.indexOf(pad))
                found << QStringLiteral("pad covered by %1").arg(nameOf(sibling));
        }
    }
    return found;
}

QImage ScreenCheck::screenShot(const QList<QWidget*>& bottomToTop, QRect screen)
{
    QImage shot(screen.size(), QImage::Format_RGB32);
    shot.fill(Qt::black);
    QPainter p(&shot);
    for (QWidget* w : bottomToTop)
        if (w && w->isVisible())
            p.drawPixmap(w->mapToGlobal(QPoint(0, 0)) - screen.topLeft(), w->grab());
    return shot;
}
QStringList ScreenCheck::paintedFaults(const QVector<Painted>& painted, QRect area, int minPixels)
{
    QStringList found;
    for (int i = 0; i < painted.size(); ++i) {
        const Painted& a = painted[i];
        if (a.pixels < minPixels)
            found << QStringLiteral("painted \"%1\" at %2 px").arg(a.text).arg(a.pixels);
        if (!area.contains(a.rect))
            found << QStringLiteral("painted \"%1\" off its widget").arg(a.text);
        for (int j = i + 1; j < painted.size(); ++j)
            if (a.rect.intersects(painted[j].rect))
                found << QStringLiteral("painted \"%1\" and \"%2\" overlap").arg(a.text, painted[j].text);
    }
    return found;
}
