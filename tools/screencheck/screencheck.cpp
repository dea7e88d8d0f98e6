#include "screencheck.h"

#include "colorbutton.h"
#include "slider.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
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
        const QSize need = QFontMetrics(font).size(0, text);
        if (!text.isEmpty() && room.isValid() && (need.width() > room.width() || need.height() > room.height()))
            found << QStringLiteral("text cut (%1 px font, needs %2 x %3 of %4 x %5): %6")
                         .arg(font.pixelSize()).arg(need.width()).arg(need.height())
                         .arg(room.width()).arg(room.height()).arg(nameOf(w));
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
