#include "editsession.h"

EditSession& EditSession::get()
{
    static EditSession session;
    return session;
}

EditSession::EditSession()
{
    grayTable_.reserve(256);
    for (int i = 0; i < 256; ++i)
        grayTable_.append(qRgb(i, i, i));
}

void EditSession::reset()
{
    drawMode_ = RoiShape::None;
    copyArea_ = false;
    handDraw_ = false;
    lastPressX_ = lastPressY_ = 0;
    pickX_ = pickY_ = 0;
    pickValue_ = 0;
    currentCamera_ = 0;
    currentDetect_ = 0;
    zoom_ = 1.0;
    panX_ = panY_ = 0.0;
    sizeHintTimer_ = nullptr;
    buttonBarTimer_ = nullptr;
}
