// A 50 x 50 sheet carrying a picture in front of a perspective camera, bent by waves, ripples or
// a crater, or with its texture warped.
#pragma once

#include "effects/GridEffect.h"

#include <vector>

class GridExp : public GridEffect {
  public:
    GridExp();
    // 0 waves, 1 crater, 2 waves shaped by the variables, 3 texture warp, 4 ripple.
    void animate(int anim, int time) override;

    static constexpr int kSize = 50;

  protected:
    void spinTexture(int time) override;

  private:
    std::vector<float> craterShape; // per vertex: the crater's shaped distance from the centre
    std::vector<float> rippleSin;   // per vertex: sin 2r and cos 2r times the ripple's falloff
    std::vector<float> rippleCos;
    float columnA[kSize] = {}; // per column, for the current frame
    float columnB[kSize] = {};
    float columnC[kSize] = {};
};
