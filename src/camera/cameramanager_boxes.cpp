// The operator boxes the camera manager asks through: the shared boxes of
// the widget kit, run modally. Without them (a program part that made no
// main window) a question is logged and answered "no", which keeps the
// stored camera order and never reboots.
#include "cameramanager.h"

#include "globals.h"
#include "winstate.h"
#include "warnbox.h"

#include <QDebug>

namespace {
bool askModal(ChooseBox* box, const QString& text)
{
    box->setText(text);
    return box->exec() == QDialog::Accepted;
}
}  // namespace

std::function<void(const QString&)> CameraManager::warnBox = [](const QString& text) {
    if (!gpWarnBox) {
        qWarning().noquote() << "camera manager:" << text;
        return;
    }
    gpWarnBox->setText(text);
    gpWarnBox->exec();
};

std::function<bool(const QString&)> CameraManager::chooseBox = [](const QString& text) {
    if (!gpChooseBox) {
        qWarning().noquote() << "camera manager asks (answered no):" << text;
        return false;
    }
    return askModal(gpChooseBox, text);
};

std::function<bool(const QString&)> CameraManager::chooseScreenBox = [](const QString& text) {
    if (!gpChooseBox) {
        qWarning().noquote() << "camera manager asks (answered no):" << text;
        return false;
    }
    // A box over the whole picture area, made for this one question.
    ChooseBox box(gpState ? gpState->mainWidget : nullptr, gShowW, gShowH);
    return askModal(&box, text);
};
