#include "effects/HodeScene.h"

#include "base/Report.h"
#include "engine/MeshObject.h"

void HodeScene::attachMorphData() {
    MeshObject* mesh = findMeshWithMaterial(*scene, "Box01");
    if (!mesh) return;
    // Only a missing file is "not found"; a broken one stops the demo with its own reason, and
    // one of zero frames simply does not morph.
    if (attachMorphFile(*mesh, true) == MorphLoad::Missing)
        reportError(__FILE__, __LINE__, "morphdata not found", true);
}
