#include "network_carditem.h"

#include "screenchrome.h"

#include "colorbutton.h"
#include "edit.h"
#include "editip.h"
#include "lanstr.h"
#include "numberinput.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char kWhite15[] = "QLabel{outline:0px;border:none;font-size:15px;color:white;}";
const char kIconButton[] =
    "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:rgb(110,110,110)}"
    "QPushButton:pressed{color:#ffffff;background:#f1c232;}";
const char kCancel[] = "outline:0px;border:none;font-size:32px;color:white;background-color:#E91E63;";
const char kLinkDown[] =
    "QWidget{border-style:solid;background-color:rgb(110,110,110);border: 0px;border-left: 10px solid red;}";
const char kLinkUp[] =
    "QWidget{border-style:solid;background-color:rgb(110,110,110);border: 0px;border-left: 10px solid green;}";
const char kPriorityMark[] = "优先启用";
// Shown when a static address or mask is refused.
constexpr int kRowBadStaticAddress = 692;

QLabel* whiteLabel(const QString& text, const char* name, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setStyleSheet(QLatin1String(kWhite15));
    return l;
}

ComboBox* combo(const char* name, QWidget* parent)
{
    auto* c = new ComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->setMinimumWidth(300);
    CComp_DialogFrame::setStyleCombobox(c, new TouchRowDelegate(c, TouchRowDelegate::kMinRowHeight, c));
    return c;
}

QHBoxLayout* row(QVBoxLayout* into)
{
    auto* r = new QHBoxLayout;
    into->addLayout(r);
    return r;
}

quint32 ipv4(const QString& text, bool* ok)
{
    // Strictly four dotted decimal parts (no shorthand forms).
    const QStringList parts = text.split(QLatin1Char('.'));
    *ok = parts.size() == 4;
    quint32 v = 0;
    for (const QString& p : parts) {
        bool partOk = false;
        const uint n = p.toUInt(&partOk);
        *ok = *ok && partOk && n <= 255 && !p.isEmpty() && p.size() <= 3;
        v = (v << 8) | (n & 0xff);
    }
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------

Network_CardItem_SetDia::Network_CardItem_SetDia(const stu_netinfo& info, QWidget* parent)
    : CComp_DialogFrame(QStringLiteral("Net_Card Setting"), parent), info_(info)
{
    setFixedSize(800, 500);
    auto* cancel = new ColorButton(tr("cancel"), this);
    cancel->setFixedSize(100, 50);
    cancel->setStyleSheet(QLatin1String(kCancel));
    connect(cancel, &QPushButton::pressed, this, &QDialog::reject);
    addTitleWgt(cancel);

    auto* lay = new QVBoxLayout(bodyWidget());
    lay->setContentsMargins(20, 50, 20, 50);
    lay->setSpacing(10);

    if (info_.iswifi) {
        const QStringList ssids = NetworkManager::getInstance()->getHotPoints(info_.name);

        QHBoxLayout* r1 = row(lay);
        r1->addWidget(whiteLabel(lanStr(613), "", this));
        ComboBox* use = combo("QComboBox_pComUse", this);
        use->addItems({lanStr(250), lanStr(251)});
        use->setCurrentIndex(info_.use ? 0 : 1);
        r1->addWidget(use);
        r1->addStretch();

        QHBoxLayout* r2 = row(lay);
        r2->addWidget(whiteLabel(QStringLiteral("wifi名称:"), "", this));
        auto* hot = new Edit(Edit::LetterPad | Edit::InDialog, this, 1);
        hot->setObjectName(QStringLiteral("Edit_editHotName"));
        hot->setMaximumWidth(300);
        if (!info_.hotname.isEmpty())
            hot->setText(info_.hotname);
        r2->addWidget(hot);
        ComboBox* list = combo("QComboBox_pLabHotName", this);
        list->addItems(ssids);
        if (!info_.hotname.isEmpty() && !ssids.contains(info_.hotname))
            list->addItem(info_.hotname);
        if (!info_.hotname.isEmpty())
            list->setCurrentText(info_.hotname);
        connect(list, &QComboBox::currentTextChanged, hot, &QLineEdit::setText);
        r2->addWidget(list);
        r2->addStretch();

        QHBoxLayout* r3 = row(lay);
        r3->addWidget(whiteLabel(lanStr(669), "", this));
        auto* pass = new Edit(Edit::LetterPad | Edit::InDialog, this, 1);
        pass->setObjectName(QStringLiteral("Edit_editPasswd"));
        pass->setMaximumWidth(300);
        if (!info_.passwd.isEmpty())
            pass->setText(info_.passwd);
        r3->addWidget(pass);
        r3->addStretch();
        setFixedSize(800, 800);
    }

    QHBoxLayout* modeRow = row(lay);
    QLabel* modeLabel = whiteLabel(lanStr(610), "", this);
    modeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    modeRow->addWidget(modeLabel);
    ComboBox* mode = combo("QComboBox_pComTool", this);
    mode->addItems({lanStr(608), lanStr(609)});
    mode->setCurrentIndex(info_.isdhcp ? 1 : 0);
    modeRow->addWidget(mode);
    auto* prio = new QCheckBox(QStringLiteral("优先"), this);
    prio->setObjectName(QStringLiteral("RouteMetric"));
    prio->setStyleSheet(QStringLiteral("QCheckBox{color:white;font-size:22px;}"));
    prio->setChecked(info_.ispriority);
    modeRow->addWidget(prio);
    modeRow->addStretch();

    const struct {
        QString title;
        const char* name;
        QString value;
    } fields[] = {{QStringLiteral("IP :"), "IPAddressEdite_IP", info_.address},
                  {lanStr(330), "IPAddressEdite_Mask", info_.netmask},
                  {lanStr(611), "IPAddressEdite_Route", info_.gateway},
                  {lanStr(612), "IPAddressEdite_DNS", info_.dns}};
    for (const auto& f : fields) {
        auto* ip = new EditIP(f.title, EditIP::PadInNetDialog, this);
        ip->setObjectName(QLatin1String(f.name));
        // Wide enough for the longest caption of the four languages.
        ip->titleLabel->setFixedWidth(300);
        ip->setFixedWidth(720);
        ip->setAddress(f.value);
        lay->addWidget(ip);
    }

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
    setDefaultWgt(this, QStringLiteral("QDialog{background-color:rgb(110,110,110);border: 1px solid #BDBDBD;}"));
}

Network_CardItem_SetDia::~Network_CardItem_SetDia() = default;

stu_netinfo Network_CardItem_SetDia::getNetINfo() const
{
    stu_netinfo s = info_;
    if (auto* c = findChild<QComboBox*>(QStringLiteral("QComboBox_pComTool")))
        s.isdhcp = c->currentIndex() == 1;
    if (auto* e = findChild<EditIP*>(QStringLiteral("IPAddressEdite_IP")))
        s.address = e->getAddress();
    if (auto* e = findChild<EditIP*>(QStringLiteral("IPAddressEdite_Mask")))
        s.netmask = e->getAddress();
    if (auto* e = findChild<EditIP*>(QStringLiteral("IPAddressEdite_Route")))
        s.gateway = e->getAddress();
    if (auto* e = findChild<EditIP*>(QStringLiteral("IPAddressEdite_DNS")))
        s.dns = e->getAddress();
    if (auto* c = findChild<QComboBox*>(QStringLiteral("QComboBox_pComUse")))
        s.use = c->currentIndex() == 0;
    if (auto* e = findChild<QLineEdit*>(QStringLiteral("Edit_editHotName")))
        s.hotname = e->text();
    if (auto* e = findChild<QLineEdit*>(QStringLiteral("Edit_editPasswd")))
        s.passwd = e->text();
    if (auto* c = findChild<QCheckBox*>(QStringLiteral("RouteMetric")))
        s.ispriority = c->isChecked();
    return s;
}

bool Network_CardItem_SetDia::isUsableHost(const QString& address)
{
    bool ok = false;
    const quint32 v = ipv4(address, &ok);
    const quint32 first = v >> 24;
    return ok && first != 0 && first != 127 && first < 224;
}

bool Network_CardItem_SetDia::isContiguousMask(const QString& mask)
{
    bool ok = false;
    const quint32 v = ipv4(mask, &ok);
    // Ones from the top, then zeros only: the inverted mask plus one is a
    // power of two. A zero mask is no usable mask.
    const quint32 inv = ~v;
    return ok && v != 0 && ((inv + 1) & inv) == 0;
}

void Network_CardItem_SetDia::acceptDialog()
{
    const stu_netinfo s = getNetINfo();
    if (!s.isdhcp && (!isUsableHost(s.address) || !isContiguousMask(s.netmask))) {
        qWarning("card %s: static address %s / %s refused", qPrintable(s.name), qPrintable(s.address),
                 qPrintable(s.netmask));
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Net_Card Setting"),
                                    lanStr(kRowBadStaticAddress), QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("badStaticAddress"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setStyleSheet(QStringLiteral("QLabel{font-size:22px;}"));
        box->open();
        return;
    }
    CComp_DialogFrame::acceptDialog();
}

// ---------------------------------------------------------------------------

Network_CardItem::Network_CardItem(const stu_netinfo& info, QWidget* parent) : QWidget(parent), info_(info)
{
    setFixedSize(680, 120);
    setAttribute(Qt::WA_StyledBackground);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(30, 0, 10, 0);
    outer->setSpacing(5);
    auto* inner = new QWidget(this);
    inner->setMinimumWidth(620);
    outer->addWidget(inner);
    auto* h = new QHBoxLayout(inner);
    h->setSpacing(10);
    h->setContentsMargins(30, 0, 0, 0);

    auto* text = new QVBoxLayout;
    text->setSpacing(10);
    text->addStretch();
    auto* r1 = new QHBoxLayout;
    r1->setSpacing(20);
    if (info_.iswifi) {
        auto* icon = new QLabel(inner);
        icon->setFixedSize(40, 40);
        icon->setPixmap(QPixmap(QStringLiteral("./images/wifi.png")));
        icon->setScaledContents(true);
        r1->addWidget(icon);
    }
    auto* name = new QLabel(info_.name, inner);
    name->setObjectName(QStringLiteral("labname"));
    name->setMinimumWidth(300);
    name->setStyleSheet(
        QStringLiteral("QLabel{outline:0px;border:none;font-weight:bold;font-size:30px;color:lightblue;}"));
    r1->addWidget(name);
    QLabel* mac = whiteLabel(info_.mac, "labmac", inner);
    mac->setMaximumWidth(150);
    r1->addWidget(mac);
    rate_ = new QLabel(inner);
    rate_->setObjectName(QStringLiteral("labspeed"));
    rate_->setMinimumWidth(80);
    rate_->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:15px;color:lightblue;}"));
    r1->addWidget(rate_);
    r1->addStretch();
    text->addLayout(r1);

    auto* r2 = new QHBoxLayout;
    r2->setSpacing(20);
    r2->addWidget(whiteLabel(info_.address, "labip", inner));
    r2->addWidget(whiteLabel(info_.netmask, "labmask", inner));
    r2->addWidget(whiteLabel(info_.gateway, "labroute", inner));
    r2->addStretch();
    text->addLayout(r2);

    auto* r3 = new QHBoxLayout;
    QLabel* tip = whiteLabel(info_.describe, "labtip", inner);
    tip->setMaximumWidth(400);
    tip->setVisible(gLan != kLanJapanese);
    r3->addWidget(tip);
    r3->addStretch();
    QLabel* prio = whiteLabel(QString(), "labpriority", inner);
    prio->setFixedSize(80, 20);
    if (info_.ispriority) {
        prio->setText(QString::fromUtf8(kPriorityMark));
        NetworkManager::getInstance()->setPriorityCard(info_.name);
    }
    r3->addWidget(prio);
    text->addLayout(r3);
    text->addStretch();
    h->addLayout(text);
    h->addStretch();

    auto* use = new QLabel(inner);
    use->setObjectName(QStringLiteral("labuse"));
    use->setFixedSize(60, 60);
    use->setPixmap(QPixmap(QStringLiteral("./images/error.png")));
    use->setScaledContents(true);
    use->setVisible(!info_.use);
    h->addWidget(use);

    auto* modify = new QPushButton(inner);
    modify->setObjectName(QStringLiteral("modify"));
    modify->setIcon(QIcon(QStringLiteral("./images/modify.png")));
    modify->setIconSize(QSize(40, 40));
    modify->setFixedSize(60, 60);
    modify->setStyleSheet(QLatin1String(kIconButton));
    connect(modify, &QPushButton::released, this, &Network_CardItem::slotChgCardInfo, Qt::QueuedConnection);
    h->addWidget(modify);

    setStyleSheet(QLatin1String(kLinkDown));
}

Network_CardItem::~Network_CardItem() = default;

void Network_CardItem::chgHardWare(bool running)
{
    setStyleSheet(QLatin1String(running ? kLinkUp : kLinkDown));
    update();
}

void Network_CardItem::updateSpeed(const QString& text)
{
    rate_->setText(text);
    update();
}

void Network_CardItem::reload_information(const stu_netinfo& info)
{
    info_ = info;
    const struct {
        const char* name;
        QString text;
    } labels[] = {{"labip", info_.address}, {"labmask", info_.netmask}, {"labroute", info_.gateway},
                  {"labtip", info_.describe}};
    for (const auto& l : labels)
        if (auto* w = findChild<QLabel*>(QLatin1String(l.name)))
            w->setText(l.text);
    if (auto* w = findChild<QLabel*>(QStringLiteral("labuse")))
        w->setVisible(!info_.use);
    if (auto* w = findChild<QLabel*>(QStringLiteral("labpriority")))
        w->setText(info_.ispriority ? QString::fromUtf8(kPriorityMark) : QString());
    update();
}

void Network_CardItem::slotChgCardInfo()
{
    if (editor_)
        return;  // one editor at a time
    QWidget* host = gpNetDialog ? gpNetDialog.data() : window();
    auto* dia = new Network_CardItem_SetDia(info_, host);
    editor_ = dia;
    CComp_DialogFrame::centreOn(dia, host);
    const int result = dia->exec();
    // The shared pads belong to the kit: hidden, not dropped.
    hidePads();
    if (result == QDialog::Accepted) {
        info_ = dia->getNetINfo();
        if (info_.ispriority)
            NetworkManager::getInstance()->setPriorityCard(info_.name);
        QTimer::singleShot(100, this, &Network_CardItem::sigUpdateAll);
        ScreenChrome::get().stopTouchCalibration();
    }
    // An editor is used once: released as soon as it has closed.
    dia->deleteLater();
}
