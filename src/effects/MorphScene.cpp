#include "effects/MorphScene.h"

#include "archive/DataFile.h"
#include "engine/MeshObject.h"
#include "engine/MorphDataLoader.h"
#include "engine/Scene.h"
#include "engine/SceneFile.h"

#include <cmath>
#include <utility>

MorphLoad attachMorphFile(MeshObject& mesh, bool brokenIsFatal) {
    return loadMorphData(mesh, brokenIsFatal);
}

void MorphScene::render(int) {
    if (!scene) return;
    drawScene(phase);
}

void MorphScene::signal(const Signal& s) {
    Effect3D::signal(s);
    if (s.type != 15 || !scene) return;
    // A morph that runs backwards would index before its first frame.
    const float rate = s.values[1] > 0 ? s.values[1] : 0.0f;
    scene->setMorph(std::trunc(s.values[0]), rate, s.values[2] > 0);
}

bool MorphScene::adopt(Scene* loaded, const std::string& fileName) {
    const bool adopted = Effect3D::adopt(loaded, fileName);
    if (adopted && scene) attachMorphData();
    return adopted;
}
