// The shape of a region (CammerSingleton::kind[]) and the shape the next
// press draws (the edit state's drawMode). The numbers are stored in the
// region rows of PARAM.db: they never change.
#pragma once

namespace RoiShape {
enum : int { None = 0, Rect = 1, Polygon = 2, Circle = 4 };
}
