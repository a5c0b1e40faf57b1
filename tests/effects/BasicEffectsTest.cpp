#include "GLTest.h"

#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "effects/Clear.h"
#include "effects/EffectFactory.h"
#include "effects/Fade.h"
#include "effects/Flash.h"
#include "effects/Invert.h"
#include "platform/GL.h"

#include <cmath>
#include <memory>

namespace {

using Rgba = std::vector<unsigned char>;

class BasicEffects : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        glDrawBuffer(GL_BACK);
        glDisable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_DEPTH_TEST);
        glColor4f(1, 1, 1, 1);
        background(0, 0, 0);
        beatLength = 100;
        lastPatternIndex = 1000;
    }
    void background(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    Rgba centre() { return pixel(400, 300); }
};

std::vector<std::string> variableNames(const Effect& effect) {
    std::vector<std::string> names;
    for (const Variable* v : effect.variables)
        names.push_back(v->name);
    return names;
}

TEST_F(BasicEffects, FactoryMakesEachWithItsVariables) {
    struct Case {
        const char* name;
        std::vector<std::string> own;
    };
    const Case cases[] = {
        {"Clear", {"Red", "Green", "Blue", "Alpha", "ClearColor", "ClearDepth", "ClearStencil"}},
        {"Fade", {"Red", "Green", "Blue", "Alpha"}},
        {"Flash", {"Add", "Repeat"}},
        {"Invert", {}},
    };
    for (const Case& c : cases) {
        std::unique_ptr<Effect> effect(createBuiltInEffect(c.name));
        ASSERT_TRUE(effect) << c.name;
        EXPECT_EQ(effect->name, c.name);
        std::vector<std::string> expected = {"Speed", "SpectrumStr", "Pattern"};
        expected.insert(expected.end(), c.own.begin(), c.own.end());
        EXPECT_EQ(variableNames(*effect), expected) << c.name;
        for (const Variable* v : effect->variables)
            EXPECT_EQ(v->listId, NoList) << c.name << " " << v->name;
    }
    std::unique_ptr<Effect> flash(createBuiltInEffect("Flash"));
    EXPECT_TRUE(flash->_patternEnabled);
    std::unique_ptr<Effect> clear(createBuiltInEffect("Clear"));
    EXPECT_EQ(clear->findVariable("Alpha")->get(), 1.0f);
    EXPECT_EQ(clear->findVariable("ClearStencil")->get(), 1.0f);
}

TEST_F(BasicEffects, ClearUsesItsColourAndBufferSwitches) {
    Clear clear(0.0f, 0.0f, 0.0f, 1.0f);
    clear.red.value = 1.0f;
    trackEndTime = 2000;
    clear.blue.addKey(0.0f, 0);
    clear.blue.addKey(1.0f, 1000);
    clear.blue.addKey(1.0f, 2000);
    trackEndTime = 0;
    clear.render(500);
    Rgba p = centre();
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 0);
    EXPECT_NEAR(p[2], 128, 1);

    // Nothing to clear: the picture stays, the clear colour is still set.
    background(0, 1, 0);
    clear.clearColor.value = false;
    clear.clearDepth.value = false;
    clear.clearStencil.value = false;
    clear.render(2000);
    EXPECT_EQ(centre(), Rgba({0, 255, 0, 255}));
    GLfloat colour[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, colour);
    EXPECT_FLOAT_EQ(colour[0], 1.0f);
    EXPECT_FLOAT_EQ(colour[2], 1.0f);

    // Only the depth buffer.
    clear.clearDepth.value = true;
    glClearDepth(0.25);
    glClear(GL_DEPTH_BUFFER_BIT);
    glClearDepth(1.0);
    clear.render(2000);
    GLfloat depth = 0;
    glReadPixels(400, 300, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_NEAR(depth, 1.0f, 0.001f);
    EXPECT_EQ(centre(), Rgba({0, 255, 0, 255}));
}

TEST_F(BasicEffects, InvertTwiceRestoresThePicture) {
    background(0.2f, 0.6f, 1.0f);
    const Rgba original = centre();
    Invert invert;
    invert.render(0);
    Rgba inverted = centre();
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(inverted[c], 255 - original[c]) << c;
    // State it leaves: blending off, depth test and writes on, texturing on, culling off.
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    invert.render(0);
    Rgba restored = centre();
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(restored[c], original[c]) << c;
    glDisable(GL_TEXTURE_2D);
}

// Speed 0.005 makes the phase elapsed / 1000.
TEST_F(BasicEffects, FadeOpacityFollowsThePhase) {
    Fade fade;
    fade.red.value = 1.0f;
    fade.setSpeed(0.005f);
    fade.start(0);
    fade.update(250);
    background(0, 0, 1);
    fade.render(250);
    Rgba p = centre();
    EXPECT_NEAR(p[0], 191, 2); // fading out: 1 - 0.25 of the colour over the picture
    EXPECT_NEAR(p[2], 64, 2);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLboolean writes = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &writes);
    EXPECT_TRUE(writes);

    fade.update(1200); // past the end of a fade-out: nothing drawn
    background(0, 0, 1);
    fade.render(1200);
    EXPECT_EQ(centre(), Rgba({0, 0, 255, 255}));

    // Fading in adds the colour unless alpha blending is asked for.
    Signal fadeIn;
    fadeIn.type = 27;
    fade.signal(fadeIn);
    fade.update(250);
    background(0, 0, 1);
    fade.render(250);
    p = centre();
    EXPECT_NEAR(p[0], 64, 2);
    EXPECT_EQ(p[2], 255);
    Signal blend;
    blend.type = 31;
    blend.value = 1;
    fade.signal(blend);
    background(0, 0, 1);
    fade.render(250);
    p = centre();
    EXPECT_NEAR(p[0], 64, 2);
    EXPECT_NEAR(p[2], 191, 2);
    // A start clears the blend flag, not the fade direction.
    fade.start(0);
    EXPECT_FALSE(fade.blend);
    EXPECT_FALSE(fade.fadeOut);
}

// Invert leaves texturing on; the quads that follow it are still plain colour, not the texture
// that happens to be bound.
TEST_F(BasicEffects, FadeAndFlashAfterInvertStayUntextured) {
    GLuint black = 0;
    glGenTextures(1, &black);
    glBindTexture(GL_TEXTURE_2D, black);
    const unsigned char texel[4] = {0, 0, 0, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);

    Invert invert;
    invert.render(0);
    background(0, 0, 0);
    glBindTexture(GL_TEXTURE_2D, black);
    Fade fade;
    fade.red.value = 1.0f;
    fade.setSpeed(0.005f);
    fade.start(0);
    fade.update(500); // phase 0.5, added over black
    fade.render(500);
    Rgba c = centre();
    EXPECT_NEAR(c[0], 128, 2) << "the fade drew the bound black texture";

    invert.render(0);
    background(0, 0, 0);
    glBindTexture(GL_TEXTURE_2D, black);
    Flash flash;
    flash.start(0);
    flash.update(0);
    flash.render(0);
    c = centre();
    EXPECT_GT(c[0] + c[1] + c[2], 0) << "the flash drew the bound black texture";
    glDeleteTextures(1, &black);
}

TEST_F(BasicEffects, FadeSpeedSignal) {
    Fade fade;
    Signal s;
    s.type = 22;
    for (float ignored : {0.0f, 0.00005f, -0.00009f}) {
        s.value = ignored;
        fade.signal(s);
        EXPECT_FLOAT_EQ(fade.speed.value, 0.5f) << ignored;
    }
    s.value = -2;
    fade.signal(s);
    EXPECT_FLOAT_EQ(fade.speed.value, -0.5f);
    s.value = 0.25f;
    fade.signal(s);
    EXPECT_FLOAT_EQ(fade.speed.value, 4.0f); // not clamped
}

TEST_F(BasicEffects, FlashFiresOnPatternStepsOnly) {
    Flash flash;
    flash.setSpeed(0.005f);
    flash.start(0);
    auto frame = [&](int t) {
        background(0, 0, 0);
        flash.update(t);
        flash.render(t);
        return centre()[0];
    };
    EXPECT_EQ(frame(0), 255); // step '1' at phase 0: full flare
    // 50 ms later: b = 255 - trunc(0.05 * 255) = 243, k = e^(243/255 - 1).
    EXPECT_NEAR(frame(50), std::exp(243.0 / 255.0 - 1.0) * 255.0, 1.5);
    EXPECT_EQ(frame(150), 0); // pattern "1000": steps 1 to 3 are dark
    EXPECT_EQ(frame(399), 0);
    EXPECT_EQ(frame(400), 255); // next '1' step: a new flare
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    // A step that does not change the index (the index seen by all effects) fires no new flare.
    lastPatternIndex = 0;
    flash.start(0);
    flash.flashStart = -1.0f; // as if the last flare were a whole phase unit ago
    EXPECT_NEAR(frame(0), std::exp(-1.0) * 255.0, 1.5);

    // Alpha blending instead of adding: k over the picture by k.
    lastPatternIndex = 1000;
    flash.add.value = false;
    flash.start(0);
    flash.update(1200); // a '1' step: the flare starts
    flash.update(1250);
    background(0, 0, 1);
    flash.render(1250);
    Rgba p = centre();
    const double k = std::exp(243.0 / 255.0 - 1.0);
    EXPECT_NEAR(p[0], k * k * 255, 2);
    EXPECT_NEAR(p[2], k * k * 255 + (1 - k) * 255, 2);
}

} // namespace
