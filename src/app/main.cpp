// Process entry: brings the operator program up in its fixed order.
#include "globals.h"
#include "rivurevezi.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    gAppDirPath = QCoreApplication::applicationDirPath();
    pMutexIO = new QMutex;
    pMutexSaveFail = new QMutex;
    gpWin = new RiVuRevezi(nullptr);
    writeVersionToJson();
    gpWin->showFullScreen();
    return app.exec();
}
