// A model's material as a scene material: colours, and the maps the fixed-function shade models
// can draw (colour, glow, opacity, bump, reflection), each texture placed by the copier.
#pragma once

#include "engine/SceneFile.h"

#include <cstdint>

struct aiMaterial;

namespace sceneimport {

class TextureCopier;

scenefile::Material convertMaterial(const aiMaterial* from, int32_t id, TextureCopier& textures);

} // namespace sceneimport
