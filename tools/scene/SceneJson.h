// holdfast-scene info's output: a scene file as JSON (frame range, materials with their shade
// model and texture lookups, every object with its family, transform and kind's fields).
#pragma once

#include <cstdint>
#include <string>

namespace scenefile {
struct SceneFile;
}

// `frame` >= 0 adds each animated object's transform at that frame.
std::string sceneJson(const std::string& name, const scenefile::SceneFile& s, int32_t frame);
