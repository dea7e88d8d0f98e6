// The network-services manager: the one object through which the program
// reaches its network services. It reads the service switches and the device
// name from ./cnt_net/config.json, (re)starts the link to the local agent and
// the HTTP API, and keeps the
// record of the current production cycle with the ROI results of the
// detection engine, which the API answers and pushes.
#pragma once

#include "cvariant.h"
#include "httpmanager.h"
#include "param_roi.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>

class HttpApiServer;
class ViewWatch2ZIZ;

class XAN_NETMN : public HttpManager {
    Q_OBJECT
public:
    // One production cycle: opened at the cycle start, given every saved
    // picture, closed with the summary of the cycle's ROI results.
    struct sAPI_LastDetect_Info {
        QString uuid;       // "V18#" + device name + "@" + creation ms in lower-case hex
        QString starttime;  // "yyyy-MM-dd hh:mm:ss.zzz", local time
        QJsonObject json;   // the summary once the record is closed
        QMap<QString, QString> pictures;  // "camera;detect;1|0" -> full path
    };

    static QString defaultConfigPath() { return QStringLiteral("./") + QStringLiteral("cnt_net/config.json"); }
    static constexpr quint16 kDefaultApiPort = 10100;

    static XAN_NETMN* getInstance();

    // Starts nothing and reads nothing; the API server and the agent link are created here. The
    // API listens on `apiAddress`:`apiPort` once initStart has run.
    explicit XAN_NETMN(const QString& configPath = defaultConfigPath(), quint16 apiPort = kDefaultApiPort,
                       const QHostAddress& apiAddress = QHostAddress::Any);
    ~XAN_NETMN() override;

    // Reads the config file and (re)starts the services; a missing file
    // changes nothing.
    void initStart();
    void setWorkTask(bool net, bool video, bool api);
    // One key of the config file, read anew; invalid when absent.
    QVariant getConfigValue(const QString& key);
    // The agent link's permission code (1: messages may go to the agent).
    int isAllowSnd_2_VW();
    // Asks the time server for the time and, with a plausible answer, sets the
    // system clock (date, then hwclock) off the calling thread. Returns at once.
    void getNTP_Timing_sync();

    // ---- Cycle record --------------------------------------------------------
    void start_PeriodRecord();                                                   // GUI thread
    void add_PeriodRecord_Picture(int camera, int detect, bool result, QString path);  // picture thread
    void finish_PeriodRecord();                                                  // GUI thread
    QJsonArray Parse_CacheDetectedRoiInfos_2_QJsonArray(QMap<QString, param_roi> cache);

    // The detection engine's insertion of one ROI result (takes roiMutex).
    void putRoiResult(const param_roi& roi);
    static QString roiKey(const param_roi& roi);
    // Empties the held record and the ROI cache, roiMutex held around both
    // (the main window's stop of detection).
    void clearCycle();

    // The answer of "get_last_detectinfo" and the body of the detected_info
    // push: the record's summary plus its pictures.
    static QJsonObject lastDetectJson(const sAPI_LastDetect_Info& record);
    // The record "get_last_detectinfo" answers: the held one once closed,
    // else the one closed before it; false before the first closed cycle.
    // A record counts as closed when it has its summary.
    static bool lastClosedCycle(bool hasHeld, const sAPI_LastDetect_Info& held, bool hasClosed,
                                const sAPI_LastDetect_Info& closed, sAPI_LastDetect_Info* out);

    // The config file: read as an object (empty when missing or not JSON) and
    // written through a temporary file and a rename, in indented form.
    static QJsonObject readConfig(const QString& path, bool* opened = nullptr);
    static bool writeConfig(const QString& path, const QJsonObject& object);

    QString configPath() const { return configPath_; }
    quint16 apiPort() const { return apiPort_; }
    QHostAddress apiAddress() const { return apiAddress_; }
    // Milliseconds since the epoch; tests replace the clock.
    std::function<qint64()> clockMs;

    // ---- State -----------------------------------------------------------------
    HttpApiServer* apiServer = nullptr;
    ViewWatch2ZIZ* agentLink = nullptr;
    QMutex roiMutex;                                  // before the record mutex, never after
    CVariant<sAPI_LastDetect_Info> lastDetect;        // its mutex is the record mutex
    // The closed record the held one replaced at the latest cycle start: what
    // "get_last_detectinfo" answers while the held record is still open.
    CVariant<sAPI_LastDetect_Info> lastClosed;
    std::atomic<quint64> recordVersion{0};            // counts changes of lastDetect, after each
    QMap<QString, param_roi> roiCache;                // under roiMutex
    CVariant<int> alarmTimeMs;
    CVariant<bool> firstResult;
    QString deviceName;                               // GUI thread
    std::atomic<bool> workNetFunc{false};
    std::atomic<bool> workVideo{false};
    std::atomic<bool> workApiFunc{false};
    QString workspace;                                // GUI thread

private:
    static XAN_NETMN* __instance;
    QString configPath_;
    quint16 apiPort_;
    QHostAddress apiAddress_;
};
