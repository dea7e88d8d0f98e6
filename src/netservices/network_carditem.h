// One network card in the network settings dialog (`Network_CardItem`: name,
// addresses, link stripe, live rate, modify button) and the card editor it
// opens (`Network_CardItem_SetDia`: connection mode, addresses, priority and,
// for a Wi-Fi card, the network and its pass phrase).
#pragma once

#include "ccomp_dialogframe.h"
#include "networkmanager.h"

#include <QPointer>
#include <QWidget>

class QLabel;

class Network_CardItem_SetDia : public CComp_DialogFrame {
    Q_OBJECT
public:
    // For a Wi-Fi card the networks are scanned first (behind the wait dialog).
    Network_CardItem_SetDia(const stu_netinfo& info, QWidget* parent = nullptr);
    ~Network_CardItem_SetDia() override;

    // The record updated from the controls.
    stu_netinfo getNetINfo() const;

    // A static address must be a usable host address with a contiguous mask.
    static bool isUsableHost(const QString& address);
    static bool isContiguousMask(const QString& mask);

public slots:
    // Refuses a static configuration with an unusable address or mask (a
    // warning box says so) instead of closing.
    void acceptDialog() override;

private:
    stu_netinfo info_;
};

class Network_CardItem : public QWidget {
    Q_OBJECT
public:
    Network_CardItem(const stu_netinfo& info, QWidget* parent = nullptr);
    ~Network_CardItem() override;

    const stu_netinfo& info() const { return info_; }
    // The editor while it is open (null otherwise).
    Network_CardItem_SetDia* editor() const { return editor_; }

    void chgHardWare(bool running);
    void updateSpeed(const QString& text);

signals:
    void sigUpdateAll();

public slots:
    void reload_information(const stu_netinfo& info);
    void slotChgCardInfo();

private:
    stu_netinfo info_;
    QLabel* rate_ = nullptr;
    QPointer<Network_CardItem_SetDia> editor_;
};
