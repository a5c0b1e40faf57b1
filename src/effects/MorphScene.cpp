#include "effects/MorphScene.h"

#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "engine/SceneFile.h"
#include "engine/SceneReader.h"
#include "resources/DataFile.h"

#include <cmath>
#include <utility>

bool loadMorphData(MeshObject& mesh) {
    DataFile file(scenefile::morphDataPath(mesh.name()).c_str());
    if (!file.isOpen()) return false;
    scenefile::MorphData morph;
    const scenefile::ReadResult read = scenefile::readMorphData(
        file.getData(), file.getSize(), static_cast<int32_t>(mesh.vertices().size()), morph);
    file.close();
    if (!read || morph.frameCount < 1 || mesh.vertices().empty()) return false;
    mesh.setMorphData(morph.frameCount, std::move(morph.positions), std::move(morph.normals));
    return true;
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
