#include "colorbutton.h"
#include "edit.h"
#include "editip.h"
#include "lanstr.h"
#include "network.h"
#include "numberinput.h"
#include "network_carditem.h"
#include "networksettingdialog.h"
#include "notice.h"
#include "screenchrome.h"
#include "platform.h"
#include "publictools_widget.h"
#include "screencheck.h"
#include "statewindow.h"
#include "support_netcards.h"
#include "support_netservices.h"
#include "testworkdir.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>

#include <QtTest>

namespace {

QJsonObject readJson(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}

// Runs `step` once the modal editor of `item` is open.
void whenEditorOpen(Network_CardItem* item, std::function<void(Network_CardItem_SetDia*)> step)
{
    QTimer::singleShot(0, item, [item, step] {
        QTRY_VERIFY(item->editor() && item->editor()->isVisible());
        step(item->editor());
    });
}

}  // namespace

class TestNetDialog : public QObject {
    Q_OBJECT
    TestWorkDir wd_;
    CardRunner runner_;
    XAN_NETMN* services_ = nullptr;
    int restarts_ = 0;

    NetworkSettingDialog* open()
    {
        auto* d = new NetworkSettingDialog(nullptr, services_, wd_.file("cnt_net/config.json"));
        d->restartServices = [this] { ++restarts_; };
        gpNetDialog = d;
        return d;
    }

private slots:
    void initTestCase()
    {
        initLanStr();
        gShowW = 1920;
        gShowH = 1080;
        runner_.scanOutput = "          ESSID:\"plant\"\n          ESSID:\"\"\n";
        platform::setRunner(&runner_);
        NetPaths p;
        p.netplanDir = wd_.file("netplan");
        p.pyreport = wd_.file("pyreport.txt");
        p.procNetDev = wd_.file("proc_net_dev");
        p.sysClassNet = wd_.file("sys");
        put(p.procNetDev, "face |bytes\n  wlan0: 10 1 0\n  eth1: 20 1 0\n  eth0: 30 1 0\n");
        put(p.wiredFile(), R"({"netcard_info":[{"name":"eth1","isdhcp":true,"describe":"Port 2"},
                              {"name":"eth0","address":"10.0.0.5","netmask":"255.255.255.0","ispriority":true}]})");
        put(p.wifiFile(), R"({"netcard_info":[{"name":"wlan0","iswifi":true,"hotname":"home","isdhcp":true}]})");
        NetworkManager::instance = new NetworkManager(p);
        services_ = new XAN_NETMN(wd_.file("cnt_net/config.json"), freeLocalPort(), QHostAddress::LocalHost);
    }
    void cleanupTestCase()
    {
        delete services_;
        platform::setRunner(nullptr);
    }

    void cardsAndAgentState()
    {
        std::unique_ptr<NetworkSettingDialog> d(open());
        QCOMPARE(QStringList(d->cardItems().keys()), (QStringList{"eth0", "eth1", "wlan0"}));
        // Shown top to bottom in name order.
        QList<int> ys;
        for (Network_CardItem* item : d->cardItems())
            ys << item->pos().y();
        QVERIFY(std::is_sorted(ys.begin(), ys.end()) && ys.first() < ys.last());
        QCOMPARE(NetworkManager::getInstance()->priorityCard(), QString("eth0"));
        QVERIFY(NetworkManager::getInstance()->isSampling());

        const QList<QPair<int, int>> states{{1, 607}, {-1, 605}, {-2, 603}, {-3, 604}, {-4, 606}, {0, 607}};
        auto* label = d->findChild<QLabel*>("lab_showstate");
        for (const auto& s : states) {
            d->agentState = [s] { return s.first; };
            d->slotTimeout_ZIZState();
            QCOMPARE(label->text(), lanStr(s.second));
        }
        d.reset();
        QVERIFY(!NetworkManager::getInstance()->isSampling());
        QVERIFY(gpNetDialog.isNull());
    }

    // A card plugged in while the dialog is open: the next sample of the
    // link states shows it, and it is listed once.
    void cardPluggedInLater()
    {
        NetworkManager* nm = NetworkManager::getInstance();
        const NetPaths& p = nm->paths();
        std::unique_ptr<NetworkSettingDialog> d(open());
        QCOMPARE(d->cardItems().size(), 3);
        put(p.procNetDev, "face |bytes\n  wlan0: 10 1 0\n  eth1: 20 1 0\n  eth0: 30 1 0\n  eth2: 5 1 0\n");
        using F = QNetworkInterface;
        nm->linkFlags = [] { return NetworkManager::LinkFlags{{"eth2", F::IsUp | F::CanBroadcast | F::IsRunning}}; };
        nm->sampleTick();
        d->slotTimeout_ChKState();
        d->slotTimeout_ChKState();
        QCOMPARE(QStringList(d->cardItems().keys()), (QStringList{"eth0", "eth1", "eth2", "wlan0"}));
        QCOMPARE(d->findChildren<Network_CardItem*>().size(), 4);
        QCOMPARE(d->cardItems().value("eth2")->info().describe, QString("Port 4(eth2)"));
        // Listed in name order.
        d->show();
        QTRY_VERIFY(d->cardItems().value("eth1")->pos().y() < d->cardItems().value("eth2")->pos().y());
        QVERIFY(d->cardItems().value("eth2")->pos().y() < d->cardItems().value("wlan0")->pos().y());
        nm->linkFlags = &NetworkManager::kernelLinks;
        put(p.procNetDev, "face |bytes\n  wlan0: 10 1 0\n  eth1: 20 1 0\n  eth0: 30 1 0\n");
        nm->initnetcard(false);
    }

    void saveAndCancel()
    {
        const QString cfg = wd_.file("cnt_net/config.json");
        put(cfg, R"({"devicename":"M1","serveraddr":"10.1.1.9","device_workvideo":true,"device_workapifunc":"yes",
                     "plant":"keep me","workspace":"/data/ws/"})");
        restarts_ = 0;
        {
            std::unique_ptr<NetworkSettingDialog> d(open());
            QCOMPARE(d->config().devicename, QString("M1"));
            QVERIFY(d->config().device_workvideo);
            QVERIFY(!d->config().device_workapifunc);  // not a bool: ignored
            const QList<QCheckBox*> boxes = d->findChildren<QCheckBox*>();
            QCOMPARE(boxes.size(), 3);
            d->show();
            QTest::mouseClick(boxes[0], Qt::LeftButton, {}, QPoint(10, boxes[0]->height() / 2));  // the API box
            d->findChild<QLineEdit*>("deviceName")->setText("M7");
            QTest::mouseClick(d->findChild<QPushButton*>("saveButton"), Qt::LeftButton);
            QVERIFY(Notice::shown());
            QCOMPARE(Notice::shown()->text(), lanStr(710));
        }
        const QJsonObject o = readJson(cfg);
        QCOMPARE(o.value("devicename").toString(), QString("M7"));
        QCOMPARE(o.value("device_workapifunc").toBool(), true);
        QCOMPARE(o.value("device_workvideo").toBool(), true);
        QCOMPARE(o.value("serveraddr").toString(), QString("10.1.1.9"));
        QCOMPARE(o.value("serverport").toString(), QString("10432"));
        QCOMPARE(o.value("plant").toString(), QString("keep me"));
        QCOMPARE(o.value("workspace").toString(), QString("/data/ws/"));
        QCOMPARE(o.value("videoapp_dir").toString(), QString("/root/bin-AOI/cnt_net/"));
        QCOMPARE(restarts_, 1);

        {
            std::unique_ptr<NetworkSettingDialog> d(open());
            d->findChild<QLineEdit*>("deviceName")->setText("other");
            QTimer::singleShot(0, d.get(), &QDialog::reject);
            QCOMPARE(d->exec(), int(QDialog::Rejected));
        }
        QCOMPARE(readJson(cfg), o);
        QCOMPARE(restarts_, 1);
    }

    void ping()
    {
        std::unique_ptr<NetworkSettingDialog> d(open());
        d->show();
        auto* addr = d->findChild<QLineEdit*>("pingAddress");
        auto* button = d->findChild<QPushButton*>("pingButton");
        runner_.clearRecorded();
        for (const char* bad : {"-f 127.0.0.1", "", "a;reboot", "$(id)"}) {
            addr->setText(bad);
            QTest::mouseClick(button, Qt::LeftButton);
            QVERIFY2(!d->pinging(), bad);
        }
        QVERIFY(runner_.recorded().isEmpty());
        addr->setText("127.0.0.1");
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(!d->pinging());
        QCOMPARE(runner_.recorded(), QStringList{"ping -c 4 -w 10 127.0.0.1"});
        QVERIFY(d->findChild<TextShowWidget*>()->isVisible());
    }

    void editors()
    {
        stu_netinfo wired;
        wired.name = "eth0";
        wired.isdhcp = true;
        Network_CardItem_SetDia w(wired);
        QCOMPARE(w.size(), QSize(800, 500));
        QVERIFY(!w.findChild<QComboBox*>("QComboBox_pComUse"));
        QCOMPARE(w.findChild<QComboBox*>("QComboBox_pComTool")->currentIndex(), 1);

        stu_netinfo wifi;
        wifi.name = "wlan0";
        wifi.iswifi = true;
        wifi.hotname = "home";
        Network_CardItem_SetDia f(wifi);
        QCOMPARE(f.size(), QSize(800, 800));
        auto* list = f.findChild<QComboBox*>("QComboBox_pLabHotName");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(0), QString("plant"));
        QCOMPARE(list->currentText(), QString("home"));
        list->setCurrentIndex(0);
        f.findChild<QComboBox*>("QComboBox_pComUse")->setCurrentIndex(1);
        f.findChild<QLineEdit*>("Edit_editPasswd")->setText("pw");
        const stu_netinfo got = f.getNetINfo();
        QCOMPARE(got.hotname, QString("plant"));
        QCOMPARE(got.passwd, QString("pw"));
        QVERIFY(!got.use);
        QVERIFY(got.iswifi);

        const QList<QPair<const char*, bool>> hosts{{"10.0.0.5", true}, {"0.0.0.0", false}, {"127.0.0.1", false},
                                                    {"224.0.0.1", false}, {"10.0.0", false}, {"10.0.0.256", false}};
        for (const auto& h : hosts)
            QVERIFY2(Network_CardItem_SetDia::isUsableHost(h.first) == h.second, h.first);
        const QList<QPair<const char*, bool>> masks{{"255.255.255.0", true}, {"255.255.254.0", true},
                                                    {"255.255.255.255", true}, {"255.0.255.0", false},
                                                    {"0.0.0.0", false}, {"255.255.255.1", false}};
        for (const auto& m : masks)
            QVERIFY2(Network_CardItem_SetDia::isContiguousMask(m.first) == m.second, m.first);
    }

    // A confirmed edit goes out once: the invalid static address is refused
    // first, then the corrected one is written to the request file.
    void editCard()
    {
        std::unique_ptr<NetworkSettingDialog> d(open());
        d->show();
        Network_CardItem* item = d->cardItems().value("eth1");
        QSignalSpy updates(item, &Network_CardItem::sigUpdateAll);
        // The confirmed editor ends the touch-calibration long press.
        struct Chrome : ScreenChrome {
            int stops = 0;
            void stopTouchCalibration() override { ++stops; }
        } chrome;
        int& calibrationStops = chrome.stops;
        ScreenChrome* before = ScreenChrome::install(&chrome);
        const auto restoreChrome = qScopeGuard([before] { ScreenChrome::install(before); });
        bool refused = false;
        whenEditorOpen(item, [&](Network_CardItem_SetDia* e) {
            e->findChild<QComboBox*>("QComboBox_pComTool")->setCurrentIndex(0);  // static, address untouched
            e->okButton()->pressed();
            auto* box = e->findChild<QMessageBox*>("badStaticAddress");
            refused = box && e->isVisible() && box->text() == lanStr(692);
            if (box)
                box->close();
            e->findChild<EditIP*>("IPAddressEdite_IP")->setAddress("192.168.7.20");
            e->findChild<EditIP*>("IPAddressEdite_Mask")->setAddress("255.255.255.0");
            e->findChild<QCheckBox*>("RouteMetric")->setChecked(true);
            e->okButton()->pressed();
        });
        item->slotChgCardInfo();
        QVERIFY(refused);
        QTRY_COMPARE(updates.count(), 1);
        QCOMPARE(NetworkManager::getInstance()->priorityCard(), QString("eth1"));
        QTRY_VERIFY(QFile::exists(NetworkManager::getInstance()->paths().wiredFile()));
        QTRY_COMPARE(NetworkManager::getInstance()->readNetInfo().value("eth1").address, QString("192.168.7.20"));
        const QJsonArray wired =
            readJson(NetworkManager::getInstance()->paths().wiredFile()).value("netcard_info").toArray();
        int priorities = 0;
        for (const QJsonValue& v : wired)
            priorities += v.toObject().value("ispriority").toBool();
        QCOMPARE(priorities, 1);
        QVERIFY(!wired.at(1).toObject().value("isdhcp").toBool());
        QTest::qWait(50);
        QCOMPARE(updates.count(), 1);
        QCOMPARE(calibrationStops, 1);
        QVERIFY(!item->editor());
    }

    // A static address typed by touch on the digit pad, in each language:
    // the editor opens centred on the network dialog, the pad of every
    // tapped part opens fully visible over the editor, and the address is
    // saved.
    void staticAddressByTouch()
    {
        const QRect screen(0, 0, 1920, 1080);
        const QString shots = QStringLiteral(VMM_BUILD_DIR "/screens");
        QDir().mkpath(shots);
        const char* const names[] = {"zh", "en", "tw", "ja"};
        StateWindow state;   // holds the field the pad writes into
        for (int lan = 0; lan < 4; ++lan) {
            gLan = lan;
            const QString address = QStringLiteral("192.168.%1.20").arg(10 + lan);
            std::unique_ptr<NetworkSettingDialog> d(open());
            d->move((screen.width() - d->width()) / 2, (screen.height() - d->height()) / 2);
            d->show();
            QVERIFY(QTest::qWaitForWindowExposed(d.get()));
            Network_CardItem* item = d->cardItems().value("eth1");
            QSignalSpy updates(item, &Network_CardItem::sigUpdateAll);
            QStringList faults;
            QTest::mouseClick(item->findChild<QPushButton*>("modify"), Qt::LeftButton);
            whenEditorOpen(item, [&](Network_CardItem_SetDia* e) {
                if ((e->geometry().center() - d->geometry().center()).manhattanLength() > 2)
                    faults << "the editor is not centred on the network dialog";
                auto* mode = e->findChild<QComboBox*>("QComboBox_pComTool");
                QTest::mouseClick(mode, Qt::LeftButton);
                // The technician's next tap comes after the opening tap has ended.
                QTest::qWait(QApplication::doubleClickInterval() + 100);
                const QRect row = mode->view()->visualRect(mode->model()->index(0, 0));
                if (row.height() < ScreenCheck::kTouchHeight)
                    faults << QString("drop-down row %1 px").arg(row.height());
                QTest::mouseClick(mode->view()->viewport(), Qt::LeftButton, {}, row.center());
                if (mode->currentIndex() != 0)
                    faults << "static mode not taken by a tap";
                const QList<QPair<const char*, QString>> rows{{"IPAddressEdite_IP", address},
                                                              {"IPAddressEdite_Mask", "255.255.255.0"}};
                for (const auto& r : rows) {
                    auto* ip = e->findChild<EditIP*>(r.first);
                    const QStringList parts = r.second.split('.');
                    for (int i = 0; i < 4; ++i) {
                        QTest::mouseClick(ip->parts[i], Qt::LeftButton);
                        if (!gpNumPad || !gpNumPad->isVisible()) {
                            faults << QString("%1 part %2: no pad").arg(r.first).arg(i);
                            continue;
                        }
                        for (const QString& f : ScreenCheck::padFaults(gpNumPad, screen))
                            faults << QString("%1 part %2: %3").arg(r.first).arg(i).arg(f);
                        if (i == 0)
                            ScreenCheck::screenShot({d.get(), e, gpNumPad}, screen)
                                .save(QString("%1/%2_network_card_pad_%3.png").arg(shots, names[lan], r.first));
                        for (const QChar c : parts[i])
                            QTest::mouseClick(gpNumPad->keys[(c.digitValue() + 9) % 10], Qt::LeftButton);
                    }
                    if (ip->getAddress() != r.second)
                        faults << QString("%1 reads %2").arg(r.first, ip->getAddress());
                }
                QTest::mouseClick(e->okButton(), Qt::LeftButton);
            });
            QTRY_COMPARE(updates.count(), 1);
            QVERIFY2(faults.isEmpty(), qPrintable(QString::number(lan) + ": " + faults.join("\n")));
            QTRY_COMPARE(NetworkManager::getInstance()->readNetInfo().value("eth1").address, address);
            QCOMPARE(NetworkManager::getInstance()->readNetInfo().value("eth1").netmask, QString("255.255.255.0"));
            QVERIFY(!NetworkManager::getInstance()->readNetInfo().value("eth1").isdhcp);
        }
        gLan = 0;
    }

    // Every text whole and on the screen, in each language.
    void screens()
    {
        for (int lan = 0; lan < 4; ++lan) {
            gLan = lan;
            std::unique_ptr<NetworkSettingDialog> d(open());
            d->show();
            d->slotTimeout_ZIZState();
            QVERIFY(QTest::qWaitForWindowExposed(d.get()));
            QStringList faults = ScreenCheck::faults(d.get(), d->geometry().topLeft(), QRect(0, 0, 1920, 1080));
            stu_netinfo wifi;
            wifi.name = "wlan0";
            wifi.iswifi = true;
            Network_CardItem_SetDia e(wifi, d.get());
            e.show();
            QVERIFY(QTest::qWaitForWindowExposed(&e));
            faults += ScreenCheck::faults(&e, e.geometry().topLeft(), QRect(0, 0, 1920, 1080));
            QVERIFY2(faults.isEmpty(), qPrintable(QString::number(lan) + ": " + faults.join("\n")));
        }
        gLan = 0;
    }
};

QTEST_MAIN(TestNetDialog)
#include "tst_netdialog.moc"
