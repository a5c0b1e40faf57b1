// The linked effect's picture, drawn into a 512 x 512 target every frame, repeated over the
// screen while it spins and zooms in and out.
#pragma once

#include "demo/Effect.h"
#include "resources/PBuffer.h"

class RotoZoom : public Effect {
  public:
    RotoZoom();
    void start(int time) override;
    void update(int time) override;
    void render(int time) override;

    FloatVariable red{1.0f}, green{1.0f}, blue{1.0f}, alpha{1.0f};
    FloatVariable rotSpeed{0.5f}; // "RotSpeed": RotSpeed x 20 degrees per phase unit

    PBuffer target;
};
