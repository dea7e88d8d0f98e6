#include "cameraviews.h"

#include "cammerwidget.h"
#include "globals.h"

#include <QPointer>

#include <chrono>

namespace {
struct Registry {
    QPointer<CammerWidget> views[kMaxCamera];
    QDir ng[kMaxCamera * kMaxDetect];
    QDir ok[kMaxCamera * kMaxDetect];
};

Registry& registry()
{
    static Registry r;
    return r;
}

bool validCamera(int camera) { return camera >= 0 && camera < kMaxCamera; }

bool validSlot(int camera, int step) { return validCamera(camera) && step >= 0 && step < kMaxDetect; }
}  // namespace

CammerWidget* CameraViews::at(int camera)
{
    return validCamera(camera) ? registry().views[camera].data() : nullptr;
}

void CameraViews::set(int camera, CammerWidget* view)
{
    if (validCamera(camera))
        registry().views[camera] = view;
}

QDir CameraViews::pictureFolder(int camera, int step, bool ok)
{
    if (!validSlot(camera, step))
        return QDir();
    const int i = camera * kMaxDetect + step;
    return ok ? registry().ok[i] : registry().ng[i];
}

void CameraViews::setPictureFolders(int camera, int step, const QDir& ng, const QDir& ok)
{
    if (!validSlot(camera, step))
        return;
    const int i = camera * kMaxDetect + step;
    registry().ng[i] = ng;
    registry().ok[i] = ok;
}

void CameraViews::clear()
{
    Registry& r = registry();
    for (auto& v : r.views)
        v = nullptr;
    for (int i = 0; i < kMaxCamera * kMaxDetect; ++i) {
        r.ng[i] = QDir();
        r.ok[i] = QDir();
    }
}

int CameraViews::closeForStop(int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    int left = 0;
    for (const QPointer<CammerWidget>& v : registry().views)
        if (v && !v->closeForStop(deadline))
            ++left;
    return left;
}
