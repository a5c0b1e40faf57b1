// A 50 x 50 sheet carrying a picture in front of a perspective camera, bent by waves, ripples or
// a crater, or with its texture warped.
#pragma once

#include "effects/GridEffect.h"

class GridExp : public GridEffect {
public:
    GridExp();
    // 0 waves, 1 crater, 2 waves shaped by the variables, 3 texture warp, 4 ripple.
    void animate(int anim, int time) override;

    static constexpr int kSize = 50;

protected:
    void spinTexture(int time) override;
};
