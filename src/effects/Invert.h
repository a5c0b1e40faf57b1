// Inverts the colours already in the frame buffer.
#pragma once

#include "demo/Effect.h"

class Invert : public Effect {
  public:
    Invert();
    void render(int time) override;
};
