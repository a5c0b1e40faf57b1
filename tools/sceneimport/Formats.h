// Where the input formats differ once assimp has read them: its glTF reader gives cameras, lights
// and spot cones by glTF's own conventions, its OBJ and FBX readers (and the rest) by the classic
// ones. The reader's settings for FBX are made here too; the checks before reading are in
// ModelCheck.h (GltfCheck.cpp, FbxCheck.cpp).
#pragma once

#include <assimp/vector3.h>

#include <string>

struct aiCamera;
struct aiLight;
namespace Assimp {
class Importer;
}

namespace sceneimport {

enum class ModelFormat { Gltf, Other };

// By the name's ending (.gltf, .glb).
ModelFormat modelFormat(const std::string& name);

// The readers' settings every import uses.
void configureReader(Assimp::Importer& importer);

// Where the camera sits in its node's space.
aiVector3D cameraOrigin(ModelFormat format, const aiCamera& camera);
// The horizontal angle the player draws the camera with (at 4:3), in radians.
float playerFieldOfView(ModelFormat format, const aiCamera& camera);
// The light's multiplier from its brightest colour channel (above 0).
float lightMultiplier(ModelFormat format, float brightest);
// A spot light's cone, in radians from its axis.
void spotCone(ModelFormat format, const aiLight& light, float& inner, float& outer);

} // namespace sceneimport
