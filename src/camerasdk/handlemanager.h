// The SDK's handle table: positive integers counted up from 1, never
// reused, each naming one opened camera. Every operation takes the table's
// lock; a camera is destroyed outside it.
#pragma once

#include <QMap>
#include <QMutex>
#include <QObject>

class ZelCamera;

class HandleManager : public QObject {
    Q_OBJECT
public:
    explicit HandleManager(QObject* parent = nullptr);
    ~HandleManager() override;

    // The process's table, created on first use and never destroyed.
    static HandleManager* get();

    int addHandle(ZelCamera* camera, int& handle);
    ZelCamera* getCamera(int handle) const;
    int getCamera(ZelCamera*& camera, int handle) const;
    int deleteHandle(int& handle);
    int deleteHandle(ZelCamera* camera, int& handle);

    static int handle;
    static HandleManager* instance;

private:
    mutable QMutex mutex_;
    QMap<int, ZelCamera*> handles_;
};
