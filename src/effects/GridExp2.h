// A 44 x 44 sheet filling the view, its texture coordinates remapped into tunnels and lenses.
#pragma once

#include "effects/GridEffect.h"

class GridExp2 : public GridEffect {
  public:
    GridExp2();
    // 4 as in every grid; 29: "Alpha" takes the value as it is; 38: reverse the tunnel.
    void signal(const Signal& s) override;
    // 1 tunnel, 2 lens, 3 two centres, 4 tunnel of variable radius.
    void animate(int anim, int time) override;

    bool reverse = false;

    static constexpr int kSize = 44;

  protected:
    void spinTexture(int time) override;
};
