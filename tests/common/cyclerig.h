// Shared set-up of the tests that run the main window's start-up or the
// program itself: a working folder with the default databases from the
// build, system words and one grey-template region over nearly the whole
// picture of the first steps stored in PARAM.db, and mould openings on the
// board simulator.
#pragma once

#include "boardsim.h"
#include "cammersingleton.h"
#include "controlport.h"
#include "globals.h"
#include "rivurevezi.h"
#include "wizardpara.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QProcess>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QScopeGuard>
#include <QtTest>

#include <functional>

namespace cyclerig {

// The machine drives the safety-door input while the door is closed.
constexpr int kDoorClosed = 1 << kSafetyDoorInput;

inline int outBit(int word, int bit) { return (word >> bit) & 1; }

// A logical interlock or alarm level as it appears on the wire (the output's
// wiring sense applied).
inline int wireLevel(int logical, int out)
{
    return (gpWPara && out <= 8 && gpWPara->words[Word::OutputInverted0 + out]) ? !logical : logical;
}

// Sends one command to the simulated cameras' control socket and waits for
// its "ok". The plug-in's server runs on this thread, so the wait keeps the
// event loop turning: a blocking wait would only time out, and the command
// would land whenever events next ran, perhaps after the picture it was
// meant for.
inline bool cameraCommand(const QString& server, const QString& line)
{
    QLocalSocket s;
    s.connectToServer(server);
    if (!s.waitForConnected(3000))
        return false;
    s.write(line.toUtf8() + '\n');
    const bool answered = QTest::qWaitFor([&s] { return s.canReadLine(); }, 10000);
    const bool ok = answered && s.readLine().startsWith("ok");
    s.disconnectFromServer();
    return ok;
}

inline void copyOrFail(const QString& from, const QString& to)
{
    QFile::remove(to);
    QVERIFY2(QFile::copy(from, to), qPrintable(from + " -> " + to));
}

// PARAM.db, SN.db and an empty RECORD.db from the build into the current
// folder, and the camera plug-in (file name in <build>/plugins) where the
// program loads it.
inline void copyDatabases(const QString& build, const QString& plugin)
{
    copyOrFail(build + "/resources/paraGroup/default/PARAM.db", "PARAM.db");
    copyOrFail(build + "/resources/paraGroup/default/SN.db", "SN.db");
    copyOrFail(build + "/resources/workdir/RECORDNULL.db", "RECORD.db");
    QDir().mkpath("Plugins/Cameras");
    copyOrFail(build + "/plugins/" + plugin, "Plugins/Cameras/" + plugin);
}

// One region on steps 0 and 1 of each of the first `cameras` cameras, the
// screen less a margin of 1/`margin` of its size on every side (view
// coordinates follow the screen the program will run on).
inline void putWideRegions(const QString& paramDb, int cameras, int margin)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "cyclerig-prep");
        db.setDatabaseName(paramDb);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (int c = 0; c < cameras; ++c) {
            CammerSingleton rec(c);
            rec.LoadRows(db, q, RoiViewLink{});
            for (int g = 0; g < 2; ++g) {
                rec.roiCount[g] = 1;
                rec.SetDefaultRoi(g, 0, 1.0f, 1.0f);
                // At the default sensitivity (25: a tolerance of 84 grey
                // levels) the cavity a short shot shows through (some 80
                // levels below the part) sits on the band's edge, and the
                // frame's flicker alone decides whether only the part's
                // bright mark counts: the verdict would hang on which frame
                // is judged. 50 (37 levels) sees the cavity itself and still
                // passes the scene's vibration and flicker.
                rec.p1[g * CammerSingleton::kRois] = 50;
                rec.rect[g][0].rect.setCoords(screen.width() / margin, screen.height() / margin,
                                              screen.width() * (margin - 1) / margin,
                                              screen.height() * (margin - 1) / margin);
            }
            QVERIFY(rec.SaveRows(db, q));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("cyclerig-prep");
}

// Changes system words of a PARAM.db, stored as the settings screen stores them.
inline void editWords(const QString& paramDb, const std::function<void(int* words)>& edit)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "cyclerig-words");
        db.setDatabaseName(paramDb);
        QVERIFY(db.open());
        QSqlQuery q(db);
        WizardPara para;
        QVERIFY(para.LoadRows(db, q));
        edit(para.words);
        QVERIFY(para.SaveRows(db, q));
        db.close();
    }
    QSqlDatabase::removeDatabase("cyclerig-words");
}

#ifdef MKDEMODB_PATH
// The demo's PARAM.db (its region on the part, stored for this screen) in
// the current folder, with the USB copy off (no USB disk in the tests).
inline void writeDemoParams(const QString& build)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QFile::remove("PARAM.db");
    QCOMPARE(QProcess::execute(QStringLiteral(MKDEMODB_PATH),
                               {build + "/resources/paraGroup/default/PARAM.db", "PARAM.db",
                                QString::number(screen.width()), QString::number(screen.height())}),
             0);
    editWords("PARAM.db", [](int* w) { w[215] = 0; });
}
#endif

// Lays out a working folder for the program itself with its network services
// off (no API, network link or video), so that a whole-program test meets
// only the board and the cameras it sets up.
inline void layOutQuietWorkFolder(const QString& build, const QString& work, const QString& layoutScript)
{
    QVERIFY(QDir(work).mkpath("cnt_net"));
    QFile cfg(work + "/cnt_net/config.json");
    QVERIFY(cfg.open(QIODevice::WriteOnly));
    cfg.write(R"({"device_workapifunc": false, "device_worknetfunc": false, "device_workvideo": false})");
    cfg.close();
    QCOMPARE(QProcess::execute(layoutScript, {build, work}), 0);
}

// One mould opening: closed long enough for the board to report it, open,
// closed again; the door stays closed throughout.
inline void pulseMouldOpen(BoardSimulator& sim)
{
    sim.setInputs(kDoorClosed);
    QTest::qWait(150);
    sim.setInputs(kDoorClosed | 0x001);
    QTest::qWait(150);
    sim.setInputs(kDoorClosed);
}

// The safety door opened until the program sees it open, then closed again.
inline void cycleDoor(BoardSimulator& sim)
{
    sim.setInputs(0);
    QTRY_VERIFY_WITH_TIMEOUT(gisSafeDoorOpen, 5000);
    sim.setInputs(kDoorClosed);
}

// Deletes the main window when the test ends (a failed check returns early:
// the window must not outlive the test), with the globals that point into it.
inline auto closeAtEnd(RiVuRevezi*& win)
{
    return qScopeGuard([&win] {
        delete win;
        gpWin = nullptr;
        gpControlIO = nullptr;
    });
}

// The board simulator started on its pseudo-terminal with the door closed,
// and one replay camera (`serial`, 320 x 256) whose commands `control`
// takes; the process state the main window's start-up expects.
inline void startBoardAndCamera(BoardSimulator& sim, const QString& control, const QString& serial)
{
    QVERIFY(sim.open());
    sim.setInputs(kDoorClosed);
    sim.start();
    qputenv("VMM_COM_PORT", sim.slaveName().toLocal8Bit());
    qputenv("VMM_CAMERA_REPLAY",
            QStringLiteral(R"({"control":"%1","cameras":[{"serial":"%2","width":320,"height":256,"seed":3}]})")
                .arg(control, serial)
                .toUtf8());
    qputenv("VMM_CAMERA_SIMULATED", QStringLiteral(R"({"control":"%1-sim","cameras":[]})").arg(control).toUtf8());
    pMutexIO = new QMutex;
    pMutexSaveFail = new QMutex;
}

}  // namespace cyclerig
