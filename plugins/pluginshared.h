#pragma once

// Small pieces every camera plug-in of ours uses alike. Each plug-in compiles
// its own copy: nothing here is shared between the loaded modules.

#include <QJsonObject>
#include <QString>

#include <dlfcn.h>

namespace vmmplugin {

// The file the calling plug-in was loaded from. Internal linkage, so that the
// address looked up lies inside the module that includes this header.
static inline QString ownPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ownPath), &info) && info.dli_fname)
        return QString::fromLocal8Bit(info.dli_fname);
    return QString();
}

// A camera's image settings back at their defaults.
inline void resetImageSettings(int& exposure, int& gain, int& sharp, int& contrast, int& gamma, int& speed)
{
    exposure = 30;
    gain = 32;
    sharp = 0;
    contrast = 50;
    gamma = 70;
    speed = 12;
}

// The image settings as a camera reports them to the program.
inline void putImageSettings(QJsonObject& obj, int exposure, int gain, int sharp, int contrast, int gamma, int speed)
{
    obj.insert(QStringLiteral("exposeTime"), exposure);
    obj.insert(QStringLiteral("adjustPlus"), gain);
    obj.insert(QStringLiteral("sharp"), sharp);
    obj.insert(QStringLiteral("contrast"), contrast);
    obj.insert(QStringLiteral("gamma"), gamma);
    obj.insert(QStringLiteral("speed"), speed);
}

}  // namespace vmmplugin
