// Ready-made mesh records for content generators: each has unit normals, texture coordinate set 0
// and counter-clockwise (front-facing) triangles seen from outside.
#pragma once

#include "engine/SceneFile.h"

namespace scenefile {

// Square in the x-y plane facing +z, side `size`, centred on the origin.
Mesh makePlane(const std::string& name, int32_t id, int32_t materialId, float size, int divisions = 1);
// Axis-aligned box centred on the origin; four vertices per face so every face has its own normal.
Mesh makeBox(const std::string& name, int32_t id, int32_t materialId, float sx, float sy, float sz);
// Sphere of `radius` with `rings` bands from pole to pole and `segments` around the y axis.
Mesh makeSphere(const std::string& name, int32_t id, int32_t materialId, float radius, int rings,
                int segments);

// A rotation of `radians` about the unit axis (x, y, z) as the file stores it: the quaternion whose
// matrix the engine builds turns points by that angle the way glRotatef(degrees, x, y, z) does.
Float4 fileRotation(float radians, float x, float y, float z);

} // namespace scenefile
