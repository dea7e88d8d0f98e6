#include "networksettingdialog.h"

#include "edit.h"
#include "editip.h"
#include "lanstr.h"
#include "network.h"
#include "network_carditem.h"
#include "notice.h"
#include "platform.h"
#include "publictools_widget.h"

#include <QCheckBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const char kCheckStyle[] = "QCheckBox{color:white;font-size:22px;}";

QCheckBox* checkBox(const QString& text, QWidget* parent)
{
    auto* b = new QCheckBox(text, parent);
    b->setStyleSheet(QLatin1String(kCheckStyle));
    return b;
}

}  // namespace

int NetworkSettingDialog::agentStateRow(int code)
{
    switch (code) {
    case -2: return 603;
    case -4: return 606;
    case -3: return 604;
    case -1: return 605;
    default: return 607;
    }
}

bool NetworkSettingDialog::isPingTarget(const QString& text)
{
    if (NetworkManager::chkIPformat(text))
        return true;
    // A host name: dot-separated labels of letters, digits and inner hyphens.
    static const QRegularExpression host(
        QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$"));
    return host.match(text).hasMatch();
}

NetworkSettingDialog::NetworkSettingDialog(QWidget* parent, XAN_NETMN* services, const QString& configPath)
    : CComp_DialogFrame(lanStr(328), parent), services_(services ? services : XAN_NETMN::getInstance()),
      configPath_(configPath)
{
    agentState = [this] { return services_->isAllowSnd_2_VW(); };
    restartServices = [this] {
        services_->setWorkTask(config_.device_worknetfunc, config_.device_workvideo, config_.device_workapifunc);
        services_->initStart();
    };

    setGeometry(gShowW / 2 - 640, gShowH / 2 - 480, 1280, 960);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setFixedSize(100, 50);
    cancel->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#E91E63;"));
    connect(cancel, &QPushButton::pressed, this, &QDialog::reject);
    addTitleWgt(cancel);

    auto* main = new QHBoxLayout(bodyWidget());
    main->setSpacing(100);
    main->setContentsMargins(8, 20, 8, 0);

    NetworkManager* nm = NetworkManager::getInstance();
    nm->initnetcard(false);
    nm->NDSpeed_Touch(true, 500);

    auto* scroll = new QScrollArea(bodyWidget());
    scroll->setMinimumWidth(700);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet(C_Type_COM::getSlider());
    cards_ = new QWidget(scroll);
    cardLay_ = new QVBoxLayout(cards_);
    cardLay_->setSpacing(10);
    cardLay_->addStretch();
    listNewCards(nm->readNetInfo());
    scroll->setWidget(cards_);
    main->addWidget(scroll);

    stateTimer_ = new QTimer(this);
    connect(stateTimer_, &QTimer::timeout, this, &NetworkSettingDialog::slotTimeout_ChKState);
    stateTimer_->start(1000);

    ininconfig();

    auto* right = new QVBoxLayout;
    right->setSpacing(10);
    main->addLayout(right);

    auto* stateRow = new QHBoxLayout;
    agentLabel_ = new QLabel(bodyWidget());
    agentLabel_->setObjectName(QStringLiteral("lab_showstate"));
    agentLabel_->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:20px;color:lightblue;}"));
    stateRow->addWidget(agentLabel_);
    auto* save = new QPushButton(bodyWidget());
    save->setObjectName(QStringLiteral("saveButton"));
    save->setIcon(QIcon(QStringLiteral("./images/Rotate.png")));
    save->setIconSize(QSize(60, 40));
    save->setFixedSize(100, 50);
    save->setStyleSheet(QStringLiteral(
        "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:rgb(110,110,110)}"
        "QPushButton:pressed{color:#ffffff;background:#f1c232;}"));
    connect(save, &QPushButton::clicked, this, &NetworkSettingDialog::slotUpdateZIZ);
    stateRow->addWidget(save);
    right->addLayout(stateRow);

    apiBox_ = checkBox(QStringLiteral("是否开启API接口功能"), bodyWidget());
    apiBox_->setChecked(config_.device_workapifunc);
    right->addWidget(apiBox_);
    netBox_ = checkBox(lanStr(598), bodyWidget());
    netBox_->setChecked(config_.device_worknetfunc);
    right->addWidget(netBox_);
    videoBox_ = checkBox(lanStr(599), bodyWidget());
    videoBox_->setChecked(config_.device_workvideo);
    right->addWidget(videoBox_);

    auto* nameRow = new QHBoxLayout;
    auto* nameLabel = new QLabel(lanStr(600), bodyWidget());
    nameLabel->setStyleSheet(QStringLiteral("QLabel{color:white;font-size:22px;}"));
    nameRow->addWidget(nameLabel);
    deviceName_ = new Edit(6, bodyWidget(), 1);
    deviceName_->setObjectName(QStringLiteral("deviceName"));
    deviceName_->setMaximumWidth(200);
    deviceName_->setText(config_.devicename);
    nameRow->addWidget(deviceName_);
    nameRow->addStretch();
    right->addLayout(nameRow);

    // The caption on its own line: beside the four parts it would not fit
    // the column in every language.
    auto* serverLabel = new QLabel(lanStr(602), bodyWidget());
    serverLabel->setStyleSheet(QStringLiteral("QLabel{color:yellow;font-size:22px;}"));
    right->addWidget(serverLabel);
    serverAddr_ = new EditIP(QString(), EditIP::PadInNetDialog, bodyWidget());
    serverAddr_->titleLabel->hide();
    serverAddr_->setObjectName(QStringLiteral("serverAddr"));
    serverAddr_->setAddress(config_.serveraddr);
    right->addWidget(serverAddr_);

    auto* pingRow = new QHBoxLayout;
    pingButton_ = new QPushButton(tr("Ping"), bodyWidget());
    pingButton_->setObjectName(QStringLiteral("pingButton"));
    pingButton_->setFixedSize(150, 50);
    pingButton_->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#00BCD4;"));
    pingRow->addWidget(pingButton_);
    pingAddr_ = new Edit(6, bodyWidget(), 1);
    pingAddr_->setObjectName(QStringLiteral("pingAddress"));
    pingAddr_->setFixedSize(400, 50);
    pingAddr_->setText(serverAddr_->getAddress());
    pingRow->addWidget(pingAddr_);
    right->addLayout(pingRow);
    right->addStretch();

    agentTimer_ = new QTimer(this);
    connect(agentTimer_, &QTimer::timeout, this, &NetworkSettingDialog::slotTimeout_ZIZState);
    agentTimer_->start(1000);

    pingPanel_ = new TextShowWidget(this);
    pingPanel_->hide();
    connect(serverAddr_, &EditIP::textchange, pingAddr_, [this] { pingAddr_->setText(serverAddr_->getAddress()); });
    connect(pingPanel_, &TextShowWidget::sigHideWidget, this, &NetworkSettingDialog::stopPing);
    connect(pingButton_, &QPushButton::clicked, this, &NetworkSettingDialog::startPing);
    connect(&ping_, &QFutureWatcher<QByteArray>::finished, this, [this] {
        if (!ping_.isCanceled() && pingPanel_->isVisible())
            pingPanel_->textBrowser->append(QString::fromLocal8Bit(ping_.result()).trimmed());
    });

    main->addStretch();
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setDefaultWgt(this);
}

NetworkSettingDialog::~NetworkSettingDialog()
{
    stateTimer_->stop();
    agentTimer_->stop();
    NetworkManager::getInstance()->NDSpeed_Touch(false, 500);
    // A ping still running ends by its own time limit; its result is dropped.
    ping_.disconnect(this);
}

bool NetworkSettingDialog::ininconfig()
{
    QFile f(configPath_);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    auto text = [&](const char* key, QString& field) {
        if (o.value(QLatin1String(key)).isString())
            field = o.value(QLatin1String(key)).toString();
    };
    auto flag = [&](const char* key, bool& field) {
        if (o.value(QLatin1String(key)).isBool())
            field = o.value(QLatin1String(key)).toBool();
    };
    text("devicename", config_.devicename);
    text("serveraddr", config_.serveraddr);
    flag("device_workapifunc", config_.device_workapifunc);
    flag("device_worknetfunc", config_.device_worknetfunc);
    flag("device_workvideo", config_.device_workvideo);
    return true;
}

void NetworkSettingDialog::listNewCards(const QMap<QString, stu_netinfo>& infos)
{
    for (auto it = infos.cbegin(); it != infos.cend(); ++it) {
        if (items_.contains(it.key()))
            continue;
        auto* item = new Network_CardItem(it.value(), cards_);
        connect(item, &Network_CardItem::sigUpdateAll, this, &NetworkSettingDialog::slotUpdateAll,
                Qt::QueuedConnection);
        // In name order, above the closing stretch.
        const auto after = items_.upperBound(it.key());
        cardLay_->insertWidget(after == items_.cend() ? cardLay_->count() - 1 : cardLay_->indexOf(after.value()),
                               item);
        items_.insert(it.key(), item);
    }
    int height = 0;
    for (Network_CardItem* item : items_)
        height += item->minimumHeight() + 10;
    cards_->setFixedSize(800, height);
}

void NetworkSettingDialog::slotTimeout_ChKState()
{
    const QMap<QString, stu_speedinfo> speeds = NetworkManager::getInstance()->speedMap();
    // A card the kernel reports and the list does not show was plugged in
    // since the list was read: read it again (once per such name).
    for (auto it = speeds.cbegin(); it != speeds.cend(); ++it) {
        if (items_.contains(it.key()) || sought_.contains(it.key()))
            continue;
        sought_.insert(it.key());
        NetworkManager* nm = NetworkManager::getInstance();
        nm->initnetcard(false);
        listNewCards(nm->readNetInfo());
        break;
    }
    for (auto it = speeds.cbegin(); it != speeds.cend(); ++it) {
        if (Network_CardItem* item = items_.value(it.key())) {
            item->chgHardWare(it->active);
            item->updateSpeed(it->rate);
        }
    }
}

void NetworkSettingDialog::slotTimeout_ZIZState()
{
    agentLabel_->setText(lanStr(agentStateRow(agentState())));
    agentLabel_->update();
}

void NetworkSettingDialog::slotUpdateAll()
{
    NetworkManager* nm = NetworkManager::getInstance();
    QMap<QString, stu_netinfo> cards;
    for (auto it = items_.cbegin(); it != items_.cend(); ++it)
        cards.insert(it.key(), it.value()->info());
    if (!nm->writeRequestFiles(cards))
        qWarning("network cards: the request files could not all be written");
    nm->initnetcard(true);
    const QMap<QString, stu_netinfo> infos = nm->readNetInfo();
    for (auto it = infos.cbegin(); it != infos.cend(); ++it)
        if (Network_CardItem* item = items_.value(it.key()))
            item->reload_information(it.value());
    listNewCards(infos);
    update();
}

void NetworkSettingDialog::slotUpdateZIZ()
{
    config_.device_workapifunc = apiBox_->isChecked();
    config_.device_worknetfunc = netBox_->isChecked();
    config_.device_workvideo = videoBox_->isChecked();
    config_.devicename = deviceName_->text();
    config_.serveraddr = serverAddr_->getAddress();

    // Merged into what the file holds: keys of other parts are kept.
    QJsonObject o = XAN_NETMN::readConfig(configPath_);
    o.insert(QStringLiteral("device_workapifunc"), config_.device_workapifunc);
    o.insert(QStringLiteral("device_worknetfunc"), config_.device_worknetfunc);
    o.insert(QStringLiteral("device_workvideo"), config_.device_workvideo);
    o.insert(QStringLiteral("devicename"), config_.devicename);
    o.insert(QStringLiteral("serveraddr"), config_.serveraddr);
    o.insert(QStringLiteral("serverport"), config_.serverport);
    if (!o.contains(QStringLiteral("videoapp_dir")))
        o.insert(QStringLiteral("videoapp_dir"), config_.videoapp_dir);
    if (!o.contains(QStringLiteral("workspace")))
        o.insert(QStringLiteral("workspace"), config_.workspace);
    if (XAN_NETMN::writeConfig(configPath_, o))
        Notice::post(this, lanStr(710));
    restartServices();
}

void NetworkSettingDialog::startPing()
{
    pingPanel_->move(pingButton_->mapTo(this, QPoint(0, pingButton_->height() - 1 + 71)));
    pingPanel_->show();
    pingPanel_->raise();
    pingPanel_->textBrowser->clear();
    const QString target = pingAddr_->text().trimmed();
    if (!isPingTarget(target)) {
        qWarning("ping: refused target \"%s\"", qPrintable(target));
        pingPanel_->textBrowser->append(QStringLiteral("ping: ") + target + QStringLiteral(" ?"));
        return;
    }
    if (ping_.isRunning())
        return;  // the one running ends by its own time limit
    // Four echoes, at most ten seconds; off the thread so the screen stays live.
    ping_.setFuture(QtConcurrent::run(CComp_DiaWait::pool(), [target] {
        const auto r = platform::runner().runOnTarget(
            QStringLiteral("ping"), {QStringLiteral("-c"), QStringLiteral("4"), QStringLiteral("-w"), QStringLiteral("10"), target},
            15000);
        return r.out + r.err;
    }));
}

void NetworkSettingDialog::stopPing()
{
    pingPanel_->textBrowser->clear();
    pingPanel_->hide();
}
