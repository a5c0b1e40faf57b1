#include "effects/Flower.h"

#include "engine/MeshObject.h"

#include <cstdio>

void Flower::attachMorphData() {
    for (int petal = 1; petal <= 6; ++petal) {
        char name[32];
        snprintf(name, sizeof name, "blomsterblad%02d", petal);
        if (MeshObject* mesh = findMeshWithMaterial(*scene, name)) attachMorphFile(*mesh);
    }
}
