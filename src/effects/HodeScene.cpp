#include "effects/HodeScene.h"

#include "engine/MeshObject.h"
#include "host/Report.h"

void HodeScene::attachMorphData() {
    MeshObject* mesh = findMeshWithMaterial(*scene, "Box01");
    if (mesh && !loadMorphData(*mesh)) reportError(__FILE__, __LINE__, "morphdata not found", true);
}
