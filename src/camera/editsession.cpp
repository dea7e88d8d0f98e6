#include "editsession.h"

EditSession& EditSession::get()
{
    static EditSession session;
    return session;
}

void EditSession::reset()
{
    drawMode_ = 0;
    copyArea_ = false;
    handDraw_ = false;
    lastPressX_ = lastPressY_ = 0;
    pickX_ = pickY_ = 0;
    pickValue_ = 0;
}
