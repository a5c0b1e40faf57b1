// Noise and Splinzor read back from real frames, and Splinzor's history across jumps in time.
#include "GLTest.h"

#include "demo/Effect.h"
#include "effects/EffectFactory.h"
#include "effects/Noise.h"
#include "effects/Splinzor.h"
#include "platform/GL.h"
#include "resources/Texture.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using Rgba = std::vector<unsigned char>;

class NoiseSplinzor : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        glDrawBuffer(GL_BACK);
        glDisable(GL_BLEND);
        glColor4f(1, 1, 1, 1);
    }
    void background(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    std::vector<unsigned char> frameRgb() {
        std::vector<unsigned char> rgb(800 * 600 * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, 800, 600, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        return rgb;
    }
};

std::vector<std::string> variableNames(const Effect& effect) {
    std::vector<std::string> names;
    for (const Variable* v : effect.variables)
        names.push_back(v->name);
    return names;
}

std::vector<float> historyCopy() {
    return std::vector<float>(Splinzor::history(), Splinzor::history() + Splinzor::kHistory);
}

} // namespace

TEST_F(NoiseSplinzor, FactoryMakesNoiseAndSplinzorWithTheirVariables) {
    std::unique_ptr<Effect> noise(createBuiltInEffect("Noise"));
    ASSERT_TRUE(noise);
    EXPECT_EQ(noise->name, "Noise");
    EXPECT_EQ(variableNames(*noise), (std::vector<std::string>{"Speed", "SpectrumStr", "Pattern", "Red",
                                                               "Green", "Blue", "Alpha", "Animate"}));
    std::unique_ptr<Effect> splinzor(createBuiltInEffect("Splinzor"));
    ASSERT_TRUE(splinzor);
    EXPECT_EQ(splinzor->name, "Splinzor");
    EXPECT_EQ(variableNames(*splinzor),
              (std::vector<std::string>{"Speed", "SpectrumStr", "Pattern", "Red", "Green", "Blue", "Alpha",
                                        "Radius", "zInc", "magic1", "magic2", "magic3"}));
    EXPECT_FLOAT_EQ(splinzor->speed.value, 0.1f);
    EXPECT_FLOAT_EQ(splinzor->findVariable("Alpha")->get(), 0.4f);
}

TEST_F(NoiseSplinzor, NoiseTexturesAreUnfilteredGreyNoise) {
    Noise noise;
    struct Case {
        Texture* texture;
        const char* name;
        int size;
    };
    for (const Case& c :
         {Case{noise.noise1, "noisetexture", 1024}, Case{noise.noise2, "noisetexture2", 512}}) {
        ASSERT_TRUE(c.texture) << c.name;
        EXPECT_EQ(TextureManager::instance().find(c.name)->object, c.texture);
        EXPECT_EQ(c.texture->width, c.size);
        EXPECT_EQ(c.texture->height, c.size);
        c.texture->bind();
        GLint minFilter = 0, magFilter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        EXPECT_EQ(minFilter, GL_NEAREST);
        EXPECT_EQ(magFilter, GL_NEAREST);
        // Grey: stored as luminance (sampled into red, green and blue alike) equal to alpha.
        GLint format = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
        EXPECT_EQ(format, GL_LUMINANCE8_ALPHA8) << c.name;
        std::vector<unsigned char> texels(static_cast<size_t>(c.size) * c.size * 2);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE, texels.data());
        int distinct[256] = {};
        for (size_t i = 0; i < texels.size(); i += 2) {
            ASSERT_EQ(texels[i], texels[i + 1]);
            distinct[texels[i]] = 1;
        }
        int levels = 0;
        for (int v : distinct)
            levels += v;
        EXPECT_GT(levels, 250) << c.name;
    }
}

TEST_F(NoiseSplinzor, NoiseWithAlphaZeroLeavesTheFrame) {
    Noise noise;
    noise.alpha.value = 0;
    noise.animate.value = true;
    background(0.2f, 0.4f, 0.6f);
    const std::vector<unsigned char> before = frameRgb();
    noise.update(0);
    noise.render(0);
    EXPECT_EQ(frameRgb(), before);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));

    // The beat makes it flare: signal 28 sets the factor, signal 5 the boost.
    Signal level;
    level.type = 5;
    level.value = 1;
    noise.signal(level); // factor still 0
    EXPECT_FLOAT_EQ(noise.alphaBoost, 0.0f);
    Signal beat;
    beat.type = 28;
    beat.value = 0.5f;
    noise.signal(beat);
    noise.signal(level);
    EXPECT_FLOAT_EQ(noise.alphaBoost, 0.5f);
    noise.render(0);
    EXPECT_NE(frameRgb(), before);
}

TEST_F(NoiseSplinzor, NoiseDrawsGreyStaticThatJumpsOnlyWhenAnimated) {
    Noise noise;
    ScreenRect& rect = Noise::textureRect();
    rect = ScreenRect{0, 0, 1, 1};
    background(0, 0, 0);
    noise.render(0);
    const std::vector<unsigned char> still = frameRgb();
    // Opaque white noise over black: grey pixels of many levels.
    int distinct[256] = {};
    for (size_t i = 0; i < still.size(); i += 3) {
        ASSERT_EQ(still[i], still[i + 1]);
        ASSERT_EQ(still[i], still[i + 2]);
        distinct[still[i]] = 1;
    }
    int levels = 0;
    for (int v : distinct)
        levels += v;
    EXPECT_GT(levels, 100);
    background(0, 0, 0);
    noise.render(1);
    EXPECT_EQ(frameRgb(), still);
    EXPECT_FLOAT_EQ(rect.x, 0.0f);

    noise.animate.value = true;
    bool moved = false;
    for (int k = 0; k < 5 && !moved; ++k) {
        background(0, 0, 0);
        noise.render(2 + k);
        EXPECT_GE(rect.x, 0.0f);
        EXPECT_LE(rect.x, 1.0f);
        EXPECT_GE(rect.y, 0.0f);
        EXPECT_LE(rect.y, 1.0f);
        EXPECT_FLOAT_EQ(rect.width, 1.0f);
        moved = frameRgb() != still;
    }
    EXPECT_TRUE(moved);
    rect = ScreenRect{0, 0, 1, 1};
}

TEST_F(NoiseSplinzor, SplinzorDrawsFadingCurvesWithTheColourRule) {
    Splinzor splinzor;
    EXPECT_EQ(Splinzor::lastStepTime(), 0);
    splinzor.red.value = 0;  // red stays at alpha along the whole curve; green and blue fall
    glEnable(GL_TEXTURE_2D); // left on by someone else: the lines are still plain colour
    background(0, 0, 0);
    splinzor.update(10000);
    splinzor.render(10000);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const std::vector<unsigned char> rgb = frameRgb();
    long lit = 0, redAhead = 0;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        if (rgb[i] == 0 && rgb[i + 1] == 0 && rgb[i + 2] == 0) continue;
        ++lit;
        EXPECT_GE(rgb[i] + 1, rgb[i + 1]);
        EXPECT_EQ(rgb[i + 1], rgb[i + 2]);
        if (rgb[i] > rgb[i + 1] + 8) ++redAhead;
    }
    EXPECT_GT(lit, 5000);
    EXPECT_GT(redAhead, lit / 4);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_LINE_SMOOTH));
    GLfloat width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_FLOAT_EQ(width, 1.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// The history takes one step per 5 ms of demo time that has passed since the last step.
TEST_F(NoiseSplinzor, SplinzorHistoryStepsWithDemoTime) {
    Splinzor splinzor;
    EXPECT_EQ(Splinzor::lastStepTime(), 0);
    EXPECT_EQ(splinzor.catchUp(5), 0);
    EXPECT_EQ(splinzor.catchUp(6), 1);
    EXPECT_EQ(Splinzor::lastStepTime(), 5);
    EXPECT_EQ(splinzor.catchUp(9), 0); // 4 ms later: the same history
    EXPECT_EQ(splinzor.catchUp(10), 0);
    const std::vector<float> before = historyCopy();
    EXPECT_EQ(splinzor.catchUp(1006), 200); // a second: 200 steps in one go
    EXPECT_EQ(Splinzor::lastStepTime(), 1005);
    const std::vector<float> after = historyCopy();
    // Everything moved 200 slots toward the front.
    for (int k = 0; k + 200 < 1998; ++k)
        ASSERT_EQ(after[k], before[k + 200]) << k;
    EXPECT_EQ(after[1998], after[1999]);
}

// Time that goes backwards (a restart, or the effect drawn at an earlier time by another) takes no
// step, and the history then goes on exactly as if the jump had not happened.
TEST_F(NoiseSplinzor, SplinzorHistoryIgnoresTimeGoingBackwards) {
    auto run = [](const std::vector<int>& times) {
        Splinzor splinzor;
        for (int t : times) {
            splinzor.update(t);
            splinzor.render(t);
        }
        return std::make_pair(historyCopy(), Splinzor::lastStepTime());
    };
    const auto straight = run({12000, 13000, 13100});
    const auto withJump = run({12000, 13000, 0, 12500, 13100});
    EXPECT_EQ(withJump.second, straight.second);
    EXPECT_EQ(withJump.first, straight.first);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// A jump far ahead takes at most a history's worth of steps, with the same result as every step.
TEST_F(NoiseSplinzor, SplinzorJumpsFarAheadAtOnce) {
    Splinzor stepwise;
    EXPECT_EQ(stepwise.catchUp(10000), 1999);
    EXPECT_EQ(stepwise.catchUp(20000), 2000);
    EXPECT_EQ(stepwise.catchUp(30000), 2000);
    const std::vector<float> expected = historyCopy();
    Splinzor direct;
    EXPECT_EQ(direct.catchUp(30000), 5999);
    EXPECT_EQ(historyCopy(), expected);
    EXPECT_EQ(Splinzor::lastStepTime(), 29995);

    const auto begin = std::chrono::steady_clock::now();
    direct.update(INT_MAX);
    direct.render(INT_MAX);
    direct.update(0);
    direct.render(0);
    // Not a timing check: a replay of every step would take hours, not seconds.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 60.0);
    EXPECT_GT(Splinzor::lastStepTime(), INT_MAX - 10);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// Without jitter (magic1 0) every control point follows from the history: ring k at angle
// (k + 1) x 2 pi / 100, point i at radius i x zInc x 24 x 0.3 + Radius x 20 - 11, its wobble d the
// history 150 i entries back. A curve starts at (P0 + 4 P1 + P2) / 6, the uniform B-spline at u = 0.
TEST_F(NoiseSplinzor, SplinzorRingsStartWhereTheBSplineOfTheirPointsBegins) {
    Splinzor splinzor;
    splinzor.magic1.value = 0;
    splinzor.magic2.value = 0.3f;
    splinzor.magic3.value = 0.7f;
    splinzor.update(20000);
    splinzor.render(20000);
    const std::vector<float> h = historyCopy();
    const float dz = 0.5f * 24, r0 = 0.5f * 20 - 10 - 1;
    for (int k : {0, 37, 99}) {
        const float angle = static_cast<float>(k + 1) * 0.06283185f;
        double start[3] = {0, 0, 0};
        const double weight[3] = {1.0 / 6, 4.0 / 6, 1.0 / 6};
        for (int i = 0; i < 3; ++i) {
            const float d = i == 0 ? 0.0f : h[1999 - 150 * i];
            const float r = static_cast<float>(i) * dz * 0.3f + r0;
            const double p[3] = {std::sin(angle + 0.5f * d) * r, r * std::cos(angle + 0.5f * d),
                                 i * dz + (std::sin(angle + d * 0.7f) + std::cos(angle + d * 0.3f)) * 8};
            for (int c = 0; c < 3; ++c)
                start[c] += weight[i] * p[c];
        }
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(Splinzor::ringStarts()[k * 3 + c], start[c], 1e-3) << k << " " << c;
    }
    EXPECT_EQ(h[1999], 0.0f); // the newest entry is cleared for the first points
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}
