#include "editip.h"

#include "edit.h"
#include "platform.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QTimeEdit>

namespace {
QFont titleFont()
{
    QFont f(QStringLiteral("wenquanyi"));
    f.setPixelSize(30);
    return f;
}

void makeYellow(QWidget* w)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, Qt::yellow);
    w->setPalette(pal);
}
}  // namespace

EditIP::EditIP(const QString& title, int mode, QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(80);
    setFont(titleFont());
    makeYellow(this);

    int partFlags = Edit::Numeric | Edit::PadInGrandparent;
    if (mode == PadInNetDialog) {
        partFlags = Edit::Numeric | Edit::PadInNetDialog;
    } else if (mode != PadInParent) {
        qWarning("EditIP %s: unknown mode %d, taken as 0", qPrintable(title), mode);
    }

    layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    titleLabel = new QLabel(title, this);
    titleLabel->setFixedWidth(160);
    titleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->addWidget(titleLabel, 10);

    for (int i = 0; i < 4; ++i) {
        parts[i] = new Edit(partFlags, this, 1);
        parts[i]->setFixedSize(80, 50);
        parts[i]->setRange(0, 255);
        layout->addWidget(parts[i], 5);
        if (i < 3) {
            dotLabels[i] = new QLabel(QStringLiteral("."), this);
            dotLabels[i]->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
            layout->addWidget(dotLabels[i]);
        }
        connect(parts[i], &QLineEdit::textChanged, this, [this] { emit textchange(getAddress()); });
    }
    connect(parts[0], &Edit::sig_Dot, this, &EditIP::SlotPressDot_0);
    connect(parts[1], &Edit::sig_Dot, this, &EditIP::SlotPressDot_1);
    connect(parts[2], &Edit::sig_Dot, this, &EditIP::SlotPressDot_2);
}

QString EditIP::getAddress() const
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    QStringList out;
    for (const Edit* part : parts) {
        QString t = part->text();
        t.remove(QLatin1Char('.'));
        if (t.isEmpty() || !digits.match(t).hasMatch())
            t = QStringLiteral("0");
        out << t;
    }
    return out.join(QLatin1Char('.'));
}

void EditIP::setAddress(const QString& address)
{
    QString segment[4];
    int k = 0;
    for (const QChar c : address) {
        if (c == QLatin1Char('.')) {
            if (k < 3)
                ++k;
            else
                segment[3].clear();   // a further dot starts part 4 afresh
            continue;
        }
        segment[k] += c;
    }
    for (int i = 0; i < 4; ++i) {
        if (!segment[i].isEmpty())
            parts[i]->setText(segment[i]);
    }
}

void EditIP::pressDot(int next)
{
    if (next < 1 || next > 3)
        return;
    parts[next]->setText(QStringLiteral("0"));
    parts[next]->setFocus();
}

void EditIP::SlotPressDot_0() { pressDot(1); }
void EditIP::SlotPressDot_1() { pressDot(2); }
void EditIP::SlotPressDot_2() { pressDot(3); }

// ---------------------------------------------------------------------------

EditDateTime::EditDateTime(const QString& title, QWidget* parent)
    : QWidget(parent)
    , dateTime(new QDateTime(QDateTime::currentDateTime()))
{
    setFont(titleFont());
    makeYellow(this);

    auto* grid = new QGridLayout(this);
    grid->setSpacing(10);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    titleLabel = new QLabel(title, this);
    titleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titleLabel->setVisible(!title.isEmpty());
    grid->setContentsMargins(0, 0, 0, 0);

    // Touch size: 64 px high, 30 px digits, a 60 px step arrow on each side.
    auto sheet = [](const char* type) {
        return QStringLiteral("%1{font-size:30px;color:black;background:white;border:2px solid #DCE4EC;"
                              "border-radius:5px;}"
                              "%1::up-button{subcontrol-origin:border;subcontrol-position:right;image: "
                              "url(./images/right.png);width: %2px;height: %2px;}%1::down-button "
                              "{subcontrol-origin:border;subcontrol-position:left;image: url(./images/left.png);"
                              "width: %2px;height: %2px;}")
            .arg(QLatin1String(type))
            .arg(60);
    };
    dateEdit = new QDateEdit(this);
    dateEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dateEdit->setFixedSize(kEditorWidth, kEditorHeight);
    dateEdit->setAlignment(Qt::AlignCenter);
    dateEdit->setStyleSheet(sheet("QDateEdit"));

    timeEdit = new QTimeEdit(this);
    timeEdit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    timeEdit->setFixedSize(kEditorWidth, kEditorHeight);
    timeEdit->setAlignment(Qt::AlignCenter);
    timeEdit->setStyleSheet(sheet("QTimeEdit"));
    for (QWidget* w : {static_cast<QWidget*>(dateEdit), static_cast<QWidget*>(timeEdit)}) {
        QFont f(QStringLiteral("wqy-microhei"));
        f.setPixelSize(30);
        w->setFont(f);
    }

    grid->addWidget(titleLabel, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(dateEdit, 0, 1);
    grid->addWidget(timeEdit, 0, 2);
}

EditDateTime::~EditDateTime()
{
    delete dateTime;
}

void EditDateTime::ShowDateTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    dateEdit->setDate(now.date());
    timeEdit->setTime(now.time());
}

bool EditDateTime::setSysDateTime()
{
    *dateTime = QDateTime(dateEdit->date(), timeEdit->time());
    const QString stamp = dateTime->toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    bool ok = true;
    const platform::CommandResult date =
        platform::runner().runOnTarget(QStringLiteral("date"), {QStringLiteral("-s"), stamp}, 3000);
    if (!date.ok()) {
        qWarning("setting the clock to %s failed (exit %d): %s", qPrintable(stamp), date.exitCode,
                 date.err.constData());
        ok = false;
    }
    const platform::CommandResult hw =
        platform::runner().runOnTarget(QStringLiteral("hwclock"), {QStringLiteral("--systohc")}, 3000);
    if (!hw.ok()) {
        qWarning("writing the hardware clock failed (exit %d): %s", hw.exitCode, hw.err.constData());
        ok = false;
    }
    return ok;
}
