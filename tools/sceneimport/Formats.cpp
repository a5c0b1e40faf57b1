#include "sceneimport/Formats.h"

#include "sceneimport/ImportFiles.h"

#include <assimp/Importer.hpp>
#include <assimp/camera.h>
#include <assimp/config.h>
#include <assimp/light.h>

#include <cmath>

namespace sceneimport {

ModelFormat modelFormat(const std::string& name) {
    const std::string extension = lower(name.substr(name.find_last_of('.') + 1));
    return extension == "gltf" || extension == "glb" ? ModelFormat::Gltf : ModelFormat::Other;
}

void configureReader(Assimp::Importer& importer) {
    // FBX pivots would otherwise come as extra helper nodes between the real ones.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
}

aiVector3D cameraOrigin(ModelFormat format, const aiCamera& camera) {
    // A glTF camera sits at its node's origin; assimp's glTF reader repeats the node's
    // translation in the camera's own position, which would count it twice.
    return format == ModelFormat::Gltf ? aiVector3D(0, 0, 0) : camera.mPosition;
}

float playerFieldOfView(ModelFormat format, const aiCamera& camera) {
    // The player draws at 4:3 from the horizontal angle: keep the vertical angle the model
    // was made with. assimp's glTF reader gives the vertical angle times the aspect (the
    // vertical angle itself when the model names no aspect).
    const bool gltf = format == ModelFormat::Gltf;
    float horizontal = camera.mHorizontalFOV > 0 ? camera.mHorizontalFOV : 0.785398f;
    if (gltf || camera.mAspect > 0) {
        const float aspect = camera.mAspect > 0 ? camera.mAspect : 1;
        const float vertical = gltf ? horizontal / aspect : 2 * std::atan(std::tan(horizontal / 2) / aspect);
        horizontal = 2 * std::atan(std::tan(vertical / 2) / 0.75f);
    }
    return horizontal;
}

float lightMultiplier(ModelFormat format, float brightest) {
    // glTF gives physical intensities (candela, lux); exporters write a few units for
    // an ordinary lamp and hundreds for bright ones, where the fixed-function light
    // (whose ambient share is 0.3 of it) already washes a surface flat above 1. I / (1 + I)
    // keeps the order of lights and never passes 1: 1 gives 0.5, 3 gives 0.75.
    return format == ModelFormat::Gltf ? brightest / (1 + brightest) : brightest;
}

void spotCone(ModelFormat format, const aiLight& light, float& inner, float& outer) {
    // glTF gives the angles from the axis; the other readers the whole cone.
    outer = light.mAngleOuterCone, inner = light.mAngleInnerCone;
    if (format != ModelFormat::Gltf) outer /= 2, inner /= 2;
}

} // namespace sceneimport
