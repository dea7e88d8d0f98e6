// The camera manager: loads the camera plug-ins, lists the cameras, keeps
// their order (the serial order stored in SN.db), creates the camera objects
// for the camera views and asks the operator when the camera count changed.
// GUI thread only.
#pragma once

#include "camerainterface.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>

#include <functional>

class QPluginLoader;

class CameraManager {
public:
    CameraManager();
    ~CameraManager();
    CameraManager(const CameraManager&) = delete;
    CameraManager& operator=(const CameraManager&) = delete;

    // The process-wide manager, created on first use and never deleted.
    static CameraManager* getInstance();
    static CameraManager* _instance;

    // Loads every "*.so" of Plugins/Cameras below the application's folder,
    // in name order.
    void loadPlugins();
    void loadPlugins(const QString& appDir);
    // Opens SN.db and reads the stored serial order. false: no stored order
    // (the file was unusable; the repair has been started or the program runs
    // without a stored order).
    bool loadCameraSN();
    // Writes `serials` (at most 8) to SN.db; the other positions become '0'.
    bool saveCameraSN();
    void findCameras();
    void findSumulateCameras();
    void sortCamera();
    PluginCamera* createCamera(_cameraInfo info);
    // serials := the serials of the cameras at order[0], order[1], ...; then
    // saved. Refused (false, nothing changed) unless `order` is a permutation
    // of the camera positions.
    bool resortCameraSN(QVector<int> order);
    void resetCameraSN();
    void checkCameraCount();

    // ---- State ------------------------------------------------------------
    QVector<QPluginLoader*> loaders;      // one per plug-in file tried; never unloaded
    QVector<CameraInterface*> interfaces; // plug-ins that cast to the interface, load order
    QVector<_cameraInfo> cameras;         // current list; the order of the camera views
    // The list becomes the cameras of the views, in their order: those that
    // opened and those the parameters expect that the views wait for.
    void keepOpened(const QVector<_cameraInfo>& opened) { cameras = opened; }
    QSqlDatabase database;                // connection "dbT" to SN.db
    QSqlQuery query;
    QVector<QString> serials;             // stored serials in camera order
    bool simulated = false;               // the list holds simulated cameras


    static constexpr int kSerialPositions = 8;
    static constexpr int kSerialMin = 8;
    static constexpr int kSerialMax = 256;

private:
    bool openSnDatabase();
    void closeSnDatabase();
    void repairSnDatabase();
};
