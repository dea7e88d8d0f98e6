// Process entry: brings the operator program up in its fixed order.
#include "globals.h"
#include "lanstr.h"
#include "mapplication.h"
#include "modbusserver.h"
#include "network.h"
#include "rivurevezi.h"
#include "startup.h"

#include <memory>

int main(int argc, char* argv[])
{
    std::unique_ptr<MApplication> app;
    StartupHooks hooks;
    hooks.createApplication = [&] {
        if (!QCoreApplication::instance())
            app = std::make_unique<MApplication>(argc, argv);
        installFontSubstitutions();
    };
    hooks.fillTexts = [] { initLanStr(); };
    hooks.progress = [](int value, const QString& text) { qInfo("start-up %d%% %s", value, qPrintable(text)); };

    startupUntilMainWindow(hooks);
    gpWin = new RiVuRevezi(nullptr);
    // Listens on port 502 for the program's life, whatever the service switches say.
    new ModbusServer;
    startupAfterMainWindow(hooks);
    XAN_NETMN::getInstance()->initStart();
    gpWin->showFullScreen();
    return QApplication::exec();
}
