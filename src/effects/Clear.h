// Clears the frame buffer with a keyable colour; each buffer can be switched off.
#pragma once

#include "demo/Effect.h"

class Clear : public Effect {
  public:
    Clear(float r, float g, float b, float a);
    void render(int time) override;

    FloatVariable red, green, blue, alpha;
    BoolVariable clearColor{true};
    BoolVariable clearDepth{true};
    BoolVariable clearStencil{true};
};
