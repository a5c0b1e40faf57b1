// A morphing scene around the mesh "Box01", which must have its morph data.
#pragma once

#include "effects/MorphScene.h"

class HodeScene : public MorphScene {
  public:
    HodeScene() : MorphScene("Hode") {}

  protected:
    void attachMorphData() override;
};
