#include "numberinput.h"

#include "colorbutton.h"
#include "edit.h"
#include "passwordbox.h"
#include "publictools_widget.h"
#include "screenchrome.h"
#include "tapguard.h"
#include "winstate.h"

#include <QApplication>
#include <QButtonGroup>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

NumberInput* gpNumPad = nullptr;
NumCharInput* gpNumCharPad = nullptr;

namespace {

Edit* currentEdit()
{
    return Edit::currentEdit();
}

// No replacement pads while the application is going away.
bool mayCreatePads()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) && !QCoreApplication::closingDown();
}

void paintPad(QWidget* w, QPaintEvent* e)
{
    QPainter p(w);
    p.fillRect(e->rect(), QColor(255, 251, 240, 200));
    p.setPen(QPen(QColor(QStringLiteral("#191532")), 1));
    p.drawRect(w->rect().adjusted(0, 0, -1, -1));
}

}  // namespace

NumberInput* createNumPad()
{
    if (!mayCreatePads())
        return nullptr;
    auto* pad = new NumberInput(nullptr);
    gpNumPad = pad;
    // The hide key checks the password while the password box is open; the
    // link goes to whichever box is the shared one at that moment.
    QObject::connect(pad, &NumberInput::chkpassword, pad, [] {
        if (gpPasswordBox)
            gpPasswordBox->accept();
    });
    QObject::connect(
        pad, &QObject::destroyed, pad,
        [] {
            if (!gpNumPad)
                createNumPad();
        },
        Qt::DirectConnection);
    return pad;
}

NumCharInput* createNumCharPad()
{
    if (!mayCreatePads())
        return nullptr;
    auto* pad = new NumCharInput(nullptr);
    gpNumCharPad = pad;
    QObject::connect(
        pad, &QObject::destroyed, pad,
        [] {
            if (!gpNumCharPad)
                createNumCharPad();
        },
        Qt::DirectConnection);
    return pad;
}

void ensurePads()
{
    if (!gpNumPad)
        createNumPad();
    if (!gpNumCharPad)
        createNumCharPad();
}

void hidePads()
{
    if (gpNumPad)
        gpNumPad->hide();
    if (gpNumCharPad)
        gpNumCharPad->hide();
}

// ---------------------------------------------------------------------------

NumberInput::NumberInput(QWidget* parent)
    : QWidget(parent)
    , rng_(std::random_device{}())
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    setFixedSize(427, 230);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_NoMousePropagation);

    group = new QButtonGroup(this);
    for (int i = 0; i < 10; ++i) {
        keys[i] = new ColorButton(QString::number((i + 1) % 10), this, 3);
        keys[i]->setFocusPolicy(Qt::NoFocus);
        keys[i]->setGeometry(5 + 106 * (i % 4), 5 + 76 * (i / 4), 100, 70);
        group->addButton(keys[i], i);
    }
    eraseKey = new ColorButton(kitText(157), this, 3);
    eraseKey->setFocusPolicy(Qt::NoFocus);
    eraseKey->setGeometry(217, 157, 100, 70);
    hideKey = new ColorButton(kitText(121), this, 3);
    hideKey->setFocusPolicy(Qt::NoFocus);
    hideKey->setGeometry(323, 157, 100, 70);

    connect(group, &QButtonGroup::idClicked, this, &NumberInput::setContent);
    connect(eraseKey, &QPushButton::clicked, this, &NumberInput::eraseContent);
    // Confirm puts the pad away by a tap: the second tap of a double tap on
    // it must not press what the pad lay over.
    connect(hideKey, &QPushButton::clicked, this, [this] { tapguard::pageClosed(this); });
    connect(hideKey, &QPushButton::clicked, this, &NumberInput::HideUpdate);
    replaceNext = true;
    hide();
}

NumberInput::~NumberInput()
{
    if (gpNumPad == this)
        gpNumPad = nullptr;
}

QVector<int> NumberInput::genRandomNumber()
{
    QVector<int> digits(10);
    std::iota(digits.begin(), digits.end(), 0);
    std::shuffle(digits.begin(), digits.end(), rng_);
    return digits;
}

void NumberInput::setContent(int id)
{
    Edit* e = currentEdit();
    if (!e || id < 0 || id > 9)
        return;
    e->addValue(keys[id]->text(), replaceNext);
    replaceNext = false;
}

void NumberInput::eraseContent()
{
    Edit* e = currentEdit();
    if (!e)
        return;
    // The next digit replaces only when this erase emptied the field. Right
    // after a tap the field still shows its value, and an erase edits it.
    bool emptied = false;
    e->deleteValue(emptied);
    replaceNext = emptied;
}

void NumberInput::eraseAll()
{
    Edit* e = currentEdit();
    if (!e)
        return;
    // The value stays until a digit is typed: a field only looked at keeps
    // it. The first digit then replaces the whole text.
    e->setCursorPosition(e->text().length());
    e->selectAll();
    replaceNext = true;
}

void NumberInput::HideUpdate()
{
    if (isVisible()) {
        hide();
        if (gpState)
            ScreenChrome::get().repaint();
    }
    if (gpPasswordBox && gpPasswordBox->isVisible()) {
        emit chkpassword();
        return;
    }
    if (Edit* e = currentEdit()) {
        e->clearFocus();
        // A field made the target without taking the focus (the slider's
        // value box) gets no focus-out; let it go here.
        if (currentEdit() == e) {
            Edit::setCurrentEdit(nullptr);
            hidePads();
        }
    }
}

void NumberInput::showEvent(QShowEvent* e)
{
    Edit* field = currentEdit();
    if (field && field->echoMode() == QLineEdit::Password) {
        const QVector<int> digits = genRandomNumber();
        for (int i = 0; i < 10; ++i)
            keys[i]->setText(QStringLiteral("%1").arg(digits[i]));
    } else {
        for (int i = 0; i < 10; ++i)
            keys[i]->setText(QStringLiteral("%1").arg((i + 1) % 10));
    }
    // The pad may be older than the language setting.
    eraseKey->setText(kitText(157));
    hideKey->setText(kitText(121));
    QWidget::showEvent(e);
}

void NumberInput::paintEvent(QPaintEvent* e) { paintPad(this, e); }
void NumberInput::mousePressEvent(QMouseEvent* e) { e->accept(); }
void NumberInput::mouseReleaseEvent(QMouseEvent* e) { e->accept(); }
void NumberInput::mouseDoubleClickEvent(QMouseEvent* e) { e->accept(); }

// ---------------------------------------------------------------------------

namespace {
const char* const kTopRow = "1234567890_";
const char* const kPages[3][3] = {
    {"qwertyuiop", "asdfghjkl", "zxcvbnm"},
    {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"},
    {"-=[]\\;',./", "@#$%^?*()", "`~!{}:\""},
};
}  // namespace

NumCharInput::NumCharInput(QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint);
    setFixedSize(785, 295);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_NoMousePropagation);

    group = new QButtonGroup(this);
    auto makeKey = [this](int id, const QString& text, int x, int y, int w) {
        keys[id] = new ColorButton(text, this, 3);
        keys[id]->setFocusPolicy(Qt::NoFocus);
        keys[id]->setGeometry(x, y, w, 65);
    };
    for (int col = 0; col < 11; ++col)
        makeKey(col, QString(QLatin1Char(kTopRow[col])), 10 + 70 * col, 10, 65);
    for (int col = 0; col < 10; ++col)
        makeKey(11 + col, QString(), 42 + 70 * col, 80, 65);
    for (int col = 0; col < 9; ++col)
        makeKey(21 + col, QString(), 62 + 70 * col, 150, 65);
    for (int col = 0; col < 7; ++col)
        makeKey(30 + col, QString(), 106 + 70 * col, 220, 65);
    for (int id = 0; id <= 36; ++id)
        group->addButton(keys[id], id);
    makeKey(37, kitText(441), 695, 150, 80);
    makeKey(38, kitText(158), 10, 220, 80);
    makeKey(39, kitText(157), 605, 220, 80);
    makeKey(40, kitText(121), 695, 220, 80);
    loadPage(LowerPage);

    connect(group, &QButtonGroup::idClicked, this, &NumCharInput::setContent);
    connect(keys[37], &QPushButton::clicked, this, &NumCharInput::SlotChgChar_Punc);
    connect(keys[38], &QPushButton::clicked, this, &NumCharInput::SlotCap);
    connect(keys[39], &QPushButton::clicked, this, &NumCharInput::eraseContent);
    connect(keys[40], &QPushButton::clicked, this, [this] { tapguard::pageClosed(this); });
    connect(keys[40], &QPushButton::clicked, this, &NumCharInput::HideUpdate);
    hide();
}

NumCharInput::~NumCharInput()
{
    if (gpNumCharPad == this)
        gpNumCharPad = nullptr;
}

void NumCharInput::loadPage(Page p)
{
    page_ = p;
    const char* const* rows = kPages[p];
    for (int col = 0; col < 10; ++col)
        keys[11 + col]->setText(QString(QLatin1Char(rows[0][col])));
    for (int col = 0; col < 9; ++col)
        keys[21 + col]->setText(QString(QLatin1Char(rows[1][col])));
    for (int col = 0; col < 7; ++col)
        keys[30 + col]->setText(QString(QLatin1Char(rows[2][col])));
    for (int id = 11; id <= 36; ++id)
        keys[id]->update();
}

void NumCharInput::setContent(int id)
{
    Edit* e = currentEdit();
    if (!e || id < 0 || id > 36)
        return;
    const QByteArray latin = keys[id]->text().toLatin1();
    if (latin.isEmpty())
        return;
    e->setText(e->text() + QString::fromLatin1(latin.left(1)));
    e->setCursorPosition(e->text().length());
}

void NumCharInput::eraseContent()
{
    Edit* e = currentEdit();
    if (!e)
        return;
    QString t = e->text();
    t.chop(1);
    e->setText(t);
    e->setCursorPosition(t.length() - 1);
}

void NumCharInput::HideUpdate()
{
    if (!isVisible())
        return;
    hide();
    if (parentWidget())
        parentWidget()->update();
}

void NumCharInput::SlotCap()
{
    if (page_ == CapitalPage) {
        loadPage(LowerPage);
        keys[38]->setText(kitText(158));
    } else {
        loadPage(CapitalPage);
        keys[38]->setText(kitText(159));
    }
    keys[37]->setText(kitText(441));
}

void NumCharInput::SlotChgChar_Punc()
{
    if (page_ != PunctuationPage) {
        loadPage(PunctuationPage);
        keys[37]->setText(kitText(442));
    } else {
        loadPage(LowerPage);
        keys[37]->setText(kitText(441));
    }
    keys[38]->setText(kitText(158));
}

void NumCharInput::showEvent(QShowEvent* e)
{
    // Every appearance starts on the lower-case page.
    keys[37]->setText(kitText(442));
    keys[38]->setText(kitText(158));
    keys[39]->setText(kitText(157));
    keys[40]->setText(kitText(121));
    page_ = PunctuationPage;
    SlotChgChar_Punc();
    QWidget::showEvent(e);
}

void NumCharInput::paintEvent(QPaintEvent* e) { paintPad(this, e); }
void NumCharInput::mousePressEvent(QMouseEvent* e) { e->accept(); }
void NumCharInput::mouseReleaseEvent(QMouseEvent* e) { e->accept(); }
void NumCharInput::mouseDoubleClickEvent(QMouseEvent* e) { e->accept(); }
