// Scenes whose meshes carry per-vertex morph data ("Flower", "Hode"): the scene effect with
// morph files attached after each load, morph settings from signal 15, and the scene always
// played at the effect's phase.
#pragma once

#include "effects/Effect3D.h"
#include "engine/MorphDataLoader.h"

#include <string>

class MeshObject;

// Attaches "data/scenes/morphdata_<mesh name>.pmd" to the mesh (loadMorphData): a missing
// file or one of zero frames leaves the mesh as it was without a word; a broken one is
// reported, fatally when `brokenIsFatal`.
MorphLoad attachMorphFile(MeshObject& mesh, bool brokenIsFatal = false);

class MorphScene : public Effect3D {
  public:
    explicit MorphScene(const std::string& name) : Effect3D(name) {}
    // The freeze of signal 35 does not hold a morphing scene.
    void render(int time) override;
    // Besides the scene signals: 15 sets the morph start frame, rate and loop.
    void signal(const Signal& s) override;
    bool adopt(Scene* loaded, const std::string& fileName) override;

  protected:
    // Attaches morph data to this effect's meshes of the freshly loaded scene.
    virtual void attachMorphData() = 0;
};
