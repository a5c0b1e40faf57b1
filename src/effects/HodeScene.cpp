#include "effects/HodeScene.h"

#include "base/Report.h"
#include "engine/MeshObject.h"

void HodeScene::attachMorphData() {
    MeshObject* mesh = findMeshWithMaterial(*scene, "Box01");
    if (mesh && !attachMorphFile(*mesh)) reportError(__FILE__, __LINE__, "morphdata not found", true);
}
