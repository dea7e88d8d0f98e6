// Panning the zoomed camera view with a finger (the camera library's).
#include "rivurevezi.h"

#include "viewutil.h"

void RiVuRevezi::updateMScale(int x, int y)
{
    viewutil::updateMScale(x, y);
}
