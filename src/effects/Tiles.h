// The linked effect's picture, drawn into a 512 x 512 target every frame, as four tiles that
// break away one after another: each shrinks, turns and fades out.
#pragma once

#include "demo/Effect.h"
#include "resources/PBuffer.h"

class Tiles : public Effect {
  public:
    Tiles();
    void start(int time) override;
    void update(int time) override;
    void render(int time) override;

    FloatVariable red{1.0f}, green{1.0f}, blue{1.0f};
    FloatVariable alpha{1.0f};     // only the initial colour: each tile's alpha is its fade
    FloatVariable rotSpeed{0.5f};  // "RotSpeed"
    FloatVariable fadeSpeed{0.5f}; // "FadeSpeed"

    PBuffer target;
    // Phase units / 50 before each tile (bottom left, bottom right, top left, top right) breaks away.
    float delays[4] = {0.0f, 0.6f, 1.2f, 1.8f};
};
