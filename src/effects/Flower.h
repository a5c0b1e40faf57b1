// A morphing scene whose six petal meshes "blomsterblad01".."blomsterblad06" carry morph data;
// a petal without a usable morph file simply does not morph.
#pragma once

#include "effects/MorphScene.h"

class Flower : public MorphScene {
  public:
    Flower() : MorphScene("Flower") {}

  protected:
    void attachMorphData() override;
};
