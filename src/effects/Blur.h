// Post-processing of the linked effect's picture: an optional threshold (subtract, then multiply),
// up to four widening streak passes, drawn alone or added over the unprocessed picture as a glow;
// the picture can be shaken by a decaying offset. Off screen it draws into render targets, or,
// where the driver has no depth render targets, into the window and copies the picture into the
// shared "atiblur" texture (copy mode).
#pragma once

#include "demo/Effect.h"
#include "resources/PBuffer.h"

class Texture;

class Blur : public Effect {
  public:
    Blur();
    ~Blur() override;
    void start(int time) override;
    void update(int time) override;
    void render(int time) override;
    // 10 shake direction (x, y) and duration, 12 shake amplitude and duration, 17 copy mode on/off.
    void signal(const Signal& s) override;

    // Shared by every Blur: whether the linked picture goes through the window and "atiblur".
    static bool copyMode();

    BoolVariable doBlurVar{false};    // "DoBlur"
    BoolVariable doMulSubVar{false};  // "DoMulSub"
    BoolVariable doGlowVar{false};    // "DoGlow"
    IntVariable blurAmount{1};        // "BlurAmount": passes minus one, 0..3
    BoolVariable blurOnlyX{false};    // "BlurOnlyX"
    BoolVariable blurOnlyY{false};    // "BlurOnlyY"
    FloatVariable subtract{0.4f};     // "Subtract"
    FloatVariable multiply{1.0f};     // "Multiply"
    FloatVariable blurFactor{0.5f};   // "BlurFactor"
    FloatVariable glowStrength{1.0f}; // "GlowStrength"

    PBuffer p0;                // the linked picture, 1024 x 1024
    PBuffer p1, p2, p3;        // working targets, 512 x 512
    PBuffer* result = nullptr; // holds this frame's processed picture, if any

    bool doGlow = false, doBlur = false, doMulSub = false, onlyX = false, onlyY = false;

    float shakeAmplitude = 1.0f;
    float shakeStart = 0.0f;
    float shakeDuration = 0.0f;
    float shakeDirection[3] = {0.0f, 0.0f, 0.0f};

    // The shake offset factor at `time` (decays from amplitude / e).
    float shakeFactor(int time) const;
};
