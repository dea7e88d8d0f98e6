// The operator's network screen: one entry per network card (live link state
// and receive rate, an editor per card), the service switches and identity of
// ./cnt_net/config.json, the local agent's state and a ping tool.
//
// Card changes are written and applied as soon as a card editor is confirmed;
// the service configuration is saved by `slotUpdateZIZ` (the save button, or
// the settings screen after the dialog was confirmed).
#pragma once

#include "ccomp_dialogframe.h"
#include "networkmanager.h"

#include <QFutureWatcher>
#include <QMap>
#include <QPointer>
#include <QSet>

#include <functional>

class EditIP;
class Edit;
class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class TextShowWidget;
class XAN_NETMN;
class Network_CardItem;

class NetworkSettingDialog : public CComp_DialogFrame {
    Q_OBJECT
public:
    struct stuconfig {
        QString devicename;
        QString serveraddr;
        QString serverport = QStringLiteral("10432");
        bool device_workapifunc = false;
        bool device_worknetfunc = false;
        bool device_workvideo = false;
        QString videoapp_dir = QStringLiteral("/root/bin-AOI/cnt_net/");
        QString workspace = QStringLiteral("/root/bin-AOI/cnt_net/workspace/");
    };

    // `services` null: the process's network-services manager.
    explicit NetworkSettingDialog(QWidget* parent = nullptr, XAN_NETMN* services = nullptr,
                                  const QString& configPath = QStringLiteral("./cnt_net/config.json"));
    ~NetworkSettingDialog() override;

    bool ininconfig();
    const stuconfig& config() const { return config_; }
    const QMap<QString, Network_CardItem*>& cardItems() const { return items_; }

    // The operator text row for an agent permission code.
    static int agentStateRow(int code);
    // A ping target: an address, or a host name that cannot pass for an option.
    static bool isPingTarget(const QString& text);
    // True while a ping runs.
    bool pinging() const { return ping_.isRunning(); }

    // What the agent state and the service restart go through (replaced by
    // tests): by default the services manager's own.
    std::function<int()> agentState;
    std::function<void()> restartServices;

public slots:
    void slotTimeout_ChKState();
    void slotTimeout_ZIZState();
    void slotUpdateAll();
    void slotUpdateZIZ();
    void startPing();
    void stopPing();

private:
    // Adds an entry for every card of `infos` the list does not show yet.
    void listNewCards(const QMap<QString, stu_netinfo>& infos);

    XAN_NETMN* services_ = nullptr;
    QString configPath_;
    QMap<QString, Network_CardItem*> items_;
    QSet<QString> sought_;   // names sampled without an entry, read for once
    QWidget* cards_ = nullptr;
    QVBoxLayout* cardLay_ = nullptr;
    QTimer* stateTimer_ = nullptr;
    QTimer* agentTimer_ = nullptr;
    QCheckBox* netBox_ = nullptr;
    QCheckBox* apiBox_ = nullptr;
    QCheckBox* videoBox_ = nullptr;
    Edit* deviceName_ = nullptr;
    EditIP* serverAddr_ = nullptr;
    QLabel* agentLabel_ = nullptr;
    TextShowWidget* pingPanel_ = nullptr;
    QPushButton* pingButton_ = nullptr;
    Edit* pingAddr_ = nullptr;
    QFutureWatcher<QByteArray> ping_;
    stuconfig config_;
};
