// Depth of field: the linked effect is drawn through a fragment program that writes a focus
// weight into alpha, the picture is blurred with the streak passes, and the sharp picture is
// blended back over the blurred one by that weight.
#pragma once

#include "demo/Effect.h"
#include "platform/GL.h"
#include "resources/PBuffer.h"

class DepthOfField : public Effect {
  public:
    DepthOfField();
    void start(int time) override;
    void update(int time) override;
    void render(int time) override;
    // Loads the program and draws the scenes that it is or will be linked to (signal 2) through it,
    // so that neither falls into the frame where the effect starts.
    void warmUp() override;

    // Where the program text is read from (relative to the demo's data root).
    static constexpr const char* programFile = "data/shaders/dof_light.qzs";
    // Longest program text handed to the driver: real ones are a few hundred bytes, while a
    // driver given megabytes can take minutes and gigabytes over it (or crash).
    static constexpr long long maxProgramBytes = 64 * 1024;
    // Whether the driver offers what the effect needs (vertex shaders and fragment programs).
    static bool supported();
    // True once the program text was accepted by the driver.
    bool programReady() const { return programState == ProgramState::Ready; }
    // Loads the program as the effect's first start or update would (a checking tool, before
    // any frame is drawn).
    void loadProgramNow();

    BoolVariable doBlurVar{true};     // "DoBlur"
    BoolVariable doGlowVar{true};     // "DoGlow"
    IntVariable blurAmount{2};        // "BlurAmount", 0..3: passes minus one
    FloatVariable blurFactor{0.25f};  // "BlurFactor"
    FloatVariable glowStrength{1.0f}; // "GlowStrength"
    FloatVariable constant{0.5f};     // "Constant"
    FloatVariable weight1{1.0f};      // "Weight1"
    FloatVariable weight2{0.0f};      // "Weight2"

    PBuffer p0, p1, p2, p3;
    PBuffer* result = nullptr; // last blur output; none until the first pass
    bool doBlur = false;
    bool doGlow = false;

  private:
    enum class ProgramState { NotTried, Ready, Failed };
    // Loads the program text once, into the sharp picture's context; failures are reported once
    // and leave the effect showing the sharp picture.
    void loadProgram();

    ProgramState programState = ProgramState::NotTried;
    GLuint program = 0;
    bool drawnSharpOnly = false; // the last update had no usable program
};
