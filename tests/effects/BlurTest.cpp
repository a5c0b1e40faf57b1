// Blur read back from real frames, in render-target mode and in copy mode (forced by making depth
// render targets read as unavailable).
#include "GLTest.h"

#include "demo/Effect.h"
#include "effects/Blur.h"
#include "effects/EffectFactory.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "resources/ScreenQuad.h"

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <memory>

namespace {

using Rgba = std::vector<unsigned char>;

// A picture to process: the left half red, the right half blue, a green band over the top fifth,
// all in one grey level when `grey` is set.
class Picture : public Effect {
  public:
    Picture() : Effect("Picture") {}
    void render(int) override {
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        setOrthoYUp();
        if (grey >= 0) {
            glColor4f(grey, grey, grey, 1);
            drawQuad(ScreenRect{0, 0, 1, 1});
        } else {
            glColor4f(1, 0, 0, 1);
            drawQuad(ScreenRect{0, 0, 0.5f, 1});
            glColor4f(0, 0, 1, 1);
            drawQuad(ScreenRect{0.5f, 0, 0.5f, 1});
            glColor4f(0, 1, 0, 1);
            drawQuad(ScreenRect{0, 0, 1, 0.2f});
        }
        // Two greys side by side, when asked for.
        if (rightGrey >= 0) {
            glColor4f(rightGrey, rightGrey, rightGrey, 1);
            drawQuad(ScreenRect{0.5f, 0, 0.5f, 1});
        }
        glColor4f(1, 1, 1, 1);
        glEnable(GL_DEPTH_TEST);
        ++renders;
    }
    float grey = -1;
    float rightGrey = -1;
    int renders = 0;
};

class BlurEffect : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        glDrawBuffer(GL_BACK);
        glColor4f(1, 1, 1, 1);
    }
    void TearDown() override {
        if (ensureGLContext()) platform::setDepthTextureTargetDisabled(false);
    }
    // A Blur over `picture`, in copy mode or not.
    std::unique_ptr<Blur> makeBlur(Picture& picture, bool copyMode) {
        platform::setDepthTextureTargetDisabled(copyMode);
        auto blur = std::make_unique<Blur>();
        EXPECT_EQ(Blur::copyMode(), copyMode);
        blur->linked = &picture;
        return blur;
    }
    void frame(Blur& blur, int time = 0) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        blur.update(time);
        blur.render(time);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    // The whole back buffer, RGB.
    std::vector<unsigned char> frameRgb() {
        std::vector<unsigned char> rgb(800 * 600 * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, 800, 600, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        return rgb;
    }
};

void expectNear(const Rgba& p, int r, int g, int b, int tolerance, const char* where) {
    EXPECT_NEAR(p[0], r, tolerance) << where;
    EXPECT_NEAR(p[1], g, tolerance) << where;
    EXPECT_NEAR(p[2], b, tolerance) << where;
}

} // namespace

TEST_F(BlurEffect, FactoryMakesItWithItsVariables) {
    std::unique_ptr<Effect> effect(createBuiltInEffect("Blur"));
    ASSERT_TRUE(effect);
    EXPECT_EQ(effect->name, "Blur");
    const char* expected[] = {"Speed",    "SpectrumStr", "Pattern",     "DoBlur",    "DoMulSub",
                              "DoGlow",   "BlurAmount",  "BlurOnlyX",   "BlurOnlyY", "Subtract",
                              "Multiply", "BlurFactor",  "GlowStrength"};
    ASSERT_EQ(effect->variables.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(effect->variables[i]->name, expected[i]);
    Blur& blur = static_cast<Blur&>(*effect);
    EXPECT_EQ(blur.blurAmount.count, 4);
    EXPECT_FLOAT_EQ(blur.blurAmount.get(), 1.0f / 3.0f); // value 1 of 0..3
    EXPECT_FLOAT_EQ(blur.subtract.get(), 0.4f);
    EXPECT_FLOAT_EQ(blur.blurFactor.get(), 0.5f);
    EXPECT_EQ(blur.p0.getWidth(), 1024);
    EXPECT_EQ(blur.p3.getWidth(), 512);
    // Without a linked effect nothing is drawn.
    glClearColor(0.2f, 0.4f, 0.6f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    blur.update(0);
    blur.render(0);
    expectNear(pixel(400, 300), 51, 102, 153, 1, "untouched");
}

// With every pass off the linked picture comes out as it was drawn, upright, in both modes.
TEST_F(BlurEffect, AllPassesOffShowsTheLinkedPicture) {
    for (bool copyMode : {false, true}) {
        SCOPED_TRACE(copyMode ? "copy mode" : "render targets");
        Picture picture;
        auto blur = makeBlur(picture, copyMode);
        frame(*blur);
        EXPECT_EQ(picture.renders, 1);
        expectNear(pixel(200, 240), 255, 0, 0, 1, "left");
        expectNear(pixel(600, 240), 0, 0, 255, 1, "right");
        expectNear(pixel(400, 570), 0, 255, 0, 1, "top band");
        expectNear(pixel(200, 30), 255, 0, 0, 1, "bottom left");
        // The state it leaves.
        EXPECT_FALSE(glIsEnabled(GL_BLEND));
        EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], 800);
        EXPECT_EQ(viewport[3], 600);
    }
}

// One pass on white: 12 copies of 1 x 2 x BlurFactor / 12 each. BlurFactor 60/255 gives 10 per
// copy, 120 in all.
TEST_F(BlurEffect, OnePassSumsTwelveCopiesOfTheIntensity) {
    for (bool copyMode : {false, true}) {
        SCOPED_TRACE(copyMode ? "copy mode" : "render targets");
        Picture picture;
        picture.grey = 1;
        auto blur = makeBlur(picture, copyMode);
        blur->doBlurVar.value = true;
        blur->blurAmount.value = 0;
        blur->blurFactor.value = 60.0f / 255.0f;
        frame(*blur);
        EXPECT_EQ(blur->result, &blur->p1);
        expectNear(pixel(400, 300), 120, 120, 120, 1, "centre");

        // One direction only: six copies of twice the intensity, the same sum.
        blur->blurOnlyX.value = true;
        frame(*blur);
        expectNear(pixel(400, 300), 120, 120, 120, 1, "only x");
        // Both: every pass draws nothing but its clear.
        blur->blurOnlyY.value = true;
        frame(*blur);
        expectNear(pixel(400, 300), 0, 0, 0, 0, "only x and y");
    }
}

TEST_F(BlurEffect, PassCountPicksTheTargetThatHoldsTheResult) {
    Picture picture;
    picture.grey = 1;
    auto blur = makeBlur(picture, false);
    blur->doBlurVar.value = true;
    PBuffer* expected[] = {&blur->p1, &blur->p2, &blur->p3, &blur->p1};
    for (int n = 0; n < 4; ++n) {
        blur->blurAmount.value = n;
        frame(*blur);
        EXPECT_EQ(blur->result, expected[n]) << n;
    }
    blur->doBlurVar.value = false;
    frame(*blur);
    EXPECT_EQ(blur->result, nullptr);
}

// Subtract 0.4 with alpha 0.4: dst x 0.6 - 0.16, then four times x (1 + Multiply).
TEST_F(BlurEffect, ThresholdKeepsTheBrightParts) {
    for (bool copyMode : {false, true}) {
        SCOPED_TRACE(copyMode ? "copy mode" : "render targets");
        Picture picture;
        picture.grey = 0.2f;      // 0.12 - 0.16: gone
        picture.rightGrey = 0.5f; // 0.3 - 0.16 = 0.14, x 16: white
        auto blur = makeBlur(picture, copyMode);
        blur->doMulSubVar.value = true;
        frame(*blur);
        EXPECT_EQ(blur->result, &blur->p3);
        expectNear(pixel(200, 300), 0, 0, 0, 1, "dark side");
        expectNear(pixel(600, 300), 255, 255, 255, 1, "bright side");
        // Multiply 0 only subtracts.
        blur->multiply.value = 0;
        frame(*blur);
        expectNear(pixel(600, 300), 36, 36, 36, 2, "subtracted only");
    }
}

// DoGlow alone: the picture, and the picture again on top x GlowStrength.
TEST_F(BlurEffect, GlowAddsThePictureToItself) {
    for (bool copyMode : {false, true}) {
        SCOPED_TRACE(copyMode ? "copy mode" : "render targets");
        Picture picture;
        picture.grey = 0.25f;
        auto blur = makeBlur(picture, copyMode);
        blur->doGlowVar.value = true;
        frame(*blur);
        expectNear(pixel(400, 300), 128, 128, 128, 2, "glow 1");
        blur->glowStrength.value = 0.5f;
        frame(*blur);
        expectNear(pixel(400, 300), 96, 96, 96, 2, "glow 0.5");
        EXPECT_FALSE(glIsEnabled(GL_BLEND));
    }
}

// The glow source is shared by all blurs: when the blur whose target holds it goes, another blur's
// glow must not read the target it took with it (the sanitizer build sees a use after free).
TEST_F(BlurEffect, AGlowAfterTheBlurThatHeldItsSourceIsGoneReadsNothingFreed) {
    Picture picture;
    picture.grey = 0.25f;
    auto kept = makeBlur(picture, false);
    auto gone = makeBlur(picture, false);
    kept->doGlowVar.value = true;
    kept->update(0);
    gone->update(0); // its target now holds the shared source
    gone.reset();
    kept->render(0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    frame(*kept); // and the next update takes its own source again
    expectNear(pixel(400, 300), 128, 128, 128, 2, "glow 1");
}

// Every pass on: the copy of the picture through the window gives the same frame as the render
// targets (the picture is sampled from 512 instead of 1024 texels, so edges may differ a little).
TEST_F(BlurEffect, CopyModeGivesTheSamePictureAsRenderTargets) {
    std::vector<unsigned char> frames[2];
    for (bool copyMode : {false, true}) {
        Picture picture;
        auto blur = makeBlur(picture, copyMode);
        blur->doBlurVar.value = true;
        blur->doMulSubVar.value = true;
        blur->doGlowVar.value = true;
        blur->blurAmount.value = 3;
        blur->subtract.value = 0.2f;
        frame(*blur);
        frames[copyMode ? 1 : 0] = frameRgb();
    }
    long total = 0, far = 0;
    for (size_t i = 0; i < frames[0].size(); ++i) {
        const int d = std::abs(static_cast<int>(frames[0][i]) - static_cast<int>(frames[1][i]));
        total += d;
        if (d > 16) ++far;
    }
    const double values = static_cast<double>(frames[0].size());
    EXPECT_LT(static_cast<double>(total) / values, 1.0);
    // Only along the colour edges.
    EXPECT_LT(static_cast<double>(far) / values, 0.01);
    // Something was drawn: the glow brightens the red half.
    EXPECT_GT(frames[0][(300 * 800 + 200) * 3], 200);
}

// The shake moves the picture by D x amplitude / e^(elapsed x speedFactor / duration + 1).
TEST_F(BlurEffect, ShakeMovesThePictureAndDecays) {
    Picture picture;
    auto blur = makeBlur(picture, false);
    blur->start(1000);
    Signal shake;
    shake.type = 10;
    shake.time = 1000;
    shake.values[0] = 0.25f * static_cast<float>(std::exp(1.0)); // a quarter of the screen at the start
    shake.values[1] = 0;
    shake.values[2] = 100; // duration
    blur->signal(shake);
    frame(*blur, 1000);
    // The red half now reaches three quarters across.
    expectNear(pixel(560, 300), 255, 0, 0, 1, "shifted");
    expectNear(pixel(700, 300), 0, 0, 255, 1, "still blue");
    // Speed 0.5: speedFactor 0.1, so 1000 ms later the offset is e^-1 of what it was.
    EXPECT_NEAR(blur->shakeFactor(2000) / blur->shakeFactor(1000), std::exp(-1.0), 1e-4);

    // Signal 12: amplitude and duration; a duration below 1 is raised to 1 by the next render.
    Signal amplitude;
    amplitude.type = 12;
    amplitude.time = 2000;
    amplitude.values[0] = 0.5f;
    amplitude.values[1] = 0.5f;
    blur->signal(amplitude);
    EXPECT_FLOAT_EQ(blur->shakeDuration, 0.5f);
    frame(*blur, 2000);
    EXPECT_FLOAT_EQ(blur->shakeDuration, 1.0f);
    EXPECT_NEAR(blur->shakeFactor(2000), 0.5 / std::exp(1.0), 1e-6);

    // A start stands the picture still again.
    blur->start(3000);
    frame(*blur, 3000);
    expectNear(pixel(380, 300), 255, 0, 0, 1, "still");
    expectNear(pixel(420, 300), 0, 0, 255, 1, "still");
}

// A negative duration or a time before the shake's start cannot push the picture off to infinity:
// the offset never exceeds amplitude / e.
TEST_F(BlurEffect, ShakeStaysBoundedForNegativeDurationsAndEarlierTimes) {
    Picture picture;
    auto blur = makeBlur(picture, false);
    blur->update(0);
    Signal shake;
    shake.type = 10;
    shake.time = 5000;
    shake.values[0] = 1;
    shake.values[2] = -5;
    blur->signal(shake);
    blur->speed.value = 1;
    blur->update(60000);
    for (int t : {60000, 5000, 0}) {
        const float d = blur->shakeFactor(t);
        EXPECT_TRUE(std::isfinite(d)) << t;
        EXPECT_LE(d, 1.0f / std::exp(1.0f) + 1e-6f) << t;
    }
    EXPECT_NEAR(blur->shakeFactor(0), blur->shakeFactor(5000), 1e-7); // before the start: as at the start
    frame(*blur, 0);
    // Moved by 1/e of the screen to the right, not out of sight.
    expectNear(pixel(600, 300), 255, 0, 0, 1, "shifted");
}

// Signal 17 switches copy mode for every Blur, only where depth render targets are missing.
TEST_F(BlurEffect, SignalSeventeenNeedsAMissingExtension) {
    Picture picture;
    auto blur = makeBlur(picture, false);
    Signal s;
    s.type = 17;
    s.value = 1;
    blur->signal(s);
    EXPECT_FALSE(Blur::copyMode());
    platform::setDepthTextureTargetDisabled(true);
    blur->signal(s);
    EXPECT_TRUE(Blur::copyMode());
    frame(*blur);
    expectNear(pixel(200, 240), 255, 0, 0, 1, "copy mode by signal");
    s.value = 0;
    blur->signal(s);
    EXPECT_FALSE(Blur::copyMode());
    frame(*blur);
    expectNear(pixel(600, 240), 0, 0, 255, 1, "back to render targets");
}
