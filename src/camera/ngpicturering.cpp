#include "ngpicturering.h"

#include <cstring>

uchar* NgPictureRing::picture(int step, int slot, int bytes)
{
    if (!inRing(step, slot) || bytes <= 0)
        return nullptr;
    std::unique_ptr<uchar[]>& p = pictures[step][slot];
    if (!p)
        p.reset(new uchar[static_cast<size_t>(bytes)]());
    return p.get();
}

const uchar* NgPictureRing::recent(int step, int slot) const
{
    return inRing(step, slot) ? pictures[step][slot].get() : nullptr;
}

bool NgPictureRing::keep(int step, const uchar* frame, int bytes, const QString& caption)
{
    if (!frame || !inStep(step))
        return false;
    const int slot = written[step] % kPictures;
    uchar* p = picture(step, slot, bytes);
    if (!p)
        return false;
    std::memcpy(p, frame, static_cast<size_t>(bytes));
    captions[step][slot] = caption;
    written[step]++;
    return true;
}

void NgPictureRing::release(int step)
{
    if (!inStep(step))
        return;
    for (int k = 0; k < kPictures; ++k) {
        pictures[step][k].reset();
        captions[step][k].clear();
    }
    written[step] = 0;
}

QString NgPictureRing::caption(int step, int slot) const
{
    return inRing(step, slot) ? captions[step][slot] : QString();
}

void NgPictureRing::browse(int step, int dir)
{
    const int n = held(step);
    if (n <= 0)
        shownIndex = 0;
    else if (dir < 0)
        shownIndex = shownIndex <= 0 ? n - 1 : qMin(shownIndex - 1, n - 1);
    else
        shownIndex = shownIndex >= n - 1 ? 0 : shownIndex + 1;
}
