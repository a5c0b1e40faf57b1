#include "GLTest.h"

#include "resources/PBuffer.h"
#include "resources/ScreenQuad.h"
#include "resources/Texture.h"

#include <array>
#include <climits>
#include <cstdlib>

namespace {

using Rgba = std::vector<unsigned char>;

class ScreenQuads : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
        glDrawBuffer(GL_BACK);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor4f(1, 1, 1, 1);
    }
    void TearDown() override { registry.releaseAll(); }
    TextureManager registry;

    // Pixel at the centre of the unit-square cell (u, v), v measured up from the bottom.
    Rgba at(float u, float v) { return pixel(static_cast<int>(u * 800), static_cast<int>(v * 600)); }

    // A 2 x 2 texture: top row red, green; bottom row blue, white (first row = top).
    Texture* quadrants() {
        Texture* texture = registry.createTexture("quadrants", 8, 8, GL_TEXTURE_2D, GL_RGBA);
        std::vector<unsigned char> texels(8 * 8 * 4);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const bool right = x >= 4, bottom = y >= 4;
                const std::array<unsigned char, 4> c =
                    !bottom ? (right ? std::array<unsigned char, 4>{0, 255, 0, 255}
                                     : std::array<unsigned char, 4>{255, 0, 0, 255})
                            : (right ? std::array<unsigned char, 4>{255, 255, 255, 255}
                                     : std::array<unsigned char, 4>{0, 0, 255, 255});
                std::copy(c.begin(), c.end(), texels.begin() + (y * 8 + x) * 4);
            }
        texture->bind();
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 8, 8, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        texture->setFilter(GL_NEAREST, GL_NEAREST);
        return texture;
    }
};

const Rgba black = {0, 0, 0, 255}, white = {255, 255, 255, 255}, red = {255, 0, 0, 255},
           green = {0, 255, 0, 255}, blue = {0, 0, 255, 255};

TEST_F(ScreenQuads, RectanglesArePlacedFromTheTop) {
    setOrthoYUp();
    EXPECT_EQ(
        [] {
            GLint m;
            glGetIntegerv(GL_MATRIX_MODE, &m);
            return m;
        }(),
        GL_MODELVIEW);
    drawQuad(ScreenRect{0.25f, 0, 0.5f, 0.5f});
    EXPECT_EQ(at(0.5f, 0.75f), white);
    EXPECT_EQ(at(0.3f, 0.95f), white);
    EXPECT_EQ(at(0.7f, 0.55f), white);
    EXPECT_EQ(at(0.5f, 0.45f), black);
    EXPECT_EQ(at(0.2f, 0.75f), black);
    EXPECT_EQ(at(0.8f, 0.75f), black);

    // Under the y-down projection the same rectangle lands in the bottom half.
    glClear(GL_COLOR_BUFFER_BIT);
    setOrthoYDown();
    drawQuad(ScreenRect{0.25f, 0, 0.5f, 0.5f});
    EXPECT_EQ(at(0.5f, 0.25f), white);
    EXPECT_EQ(at(0.5f, 0.75f), black);
}

TEST_F(ScreenQuads, TexturedQuadsShowImagesUpright) {
    Texture* texture = quadrants();
    glBindTexture(GL_TEXTURE_2D, 0);
    setOrthoYUp();
    drawTexturedQuad(texture, ScreenRect{0, 0, 1, 1});
    EXPECT_EQ(at(0.25f, 0.75f), red);
    EXPECT_EQ(at(0.75f, 0.75f), green);
    EXPECT_EQ(at(0.25f, 0.25f), blue);
    EXPECT_EQ(at(0.75f, 0.25f), white);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

    // A texture rectangle picks a part of the texture: (0.5, 0, 0.5, 0.5) is the top-right quadrant.
    glClear(GL_COLOR_BUFFER_BIT);
    drawTexturedQuadTexRect(texture, ScreenRect{0, 0, 0.5f, 0.5f}, ScreenRect{0.5f, 0, 0.5f, 0.5f});
    EXPECT_EQ(at(0.25f, 0.75f), green);
    EXPECT_EQ(at(0.75f, 0.25f), black);

    // No texture: whatever texturing is current is used (here: the quadrants, still enabled).
    glClear(GL_COLOR_BUFFER_BIT);
    texture->bind();
    glEnable(GL_TEXTURE_2D);
    drawQuadTexRect(ScreenRect{0, 0, 1, 1}, ScreenRect{0, 0.5f, 1, 0.5f});
    EXPECT_EQ(at(0.25f, 0.75f), blue);
    drawTexturedQuad(nullptr, ScreenRect{0, 0, 1, 1});
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(at(0.25f, 0.75f), red);

    // The unit quad equals the full-screen rectangle.
    glClear(GL_COLOR_BUFFER_BIT);
    drawUnitQuad();
    EXPECT_EQ(at(0.25f, 0.75f), red);
    EXPECT_EQ(at(0.75f, 0.25f), white);
    glDisable(GL_TEXTURE_2D);
}

TEST_F(ScreenQuads, BrightenDoublesOncePerPass) {
    struct Case {
        int factor;
        int expected; // from 20: one doubling per pass
    };
    // The largest factor takes 30 doublings and ends (a 32-bit pass count overflowed there).
    for (Case c : {Case{1, 40}, Case{4, 160}, Case{6, 160}, Case{2, 80}, Case{INT_MAX, 255}}) {
        glClearColor(20 / 255.0f, 20 / 255.0f, 20 / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glTranslatef(0.5f, 0, 0);
        const float marker = [] {
            GLfloat m[16];
            glGetFloatv(GL_PROJECTION_MATRIX, m);
            return m[12];
        }();
        brightenScreen(c.factor);
        Rgba p = at(0.5f, 0.5f);
        EXPECT_NEAR(p[0], c.expected, 2) << c.factor;
        EXPECT_NEAR(p[2], c.expected, 2) << c.factor;
        EXPECT_FALSE(glIsEnabled(GL_BLEND));
        GLfloat m[16], colour[4];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        EXPECT_EQ(m[12], marker) << "projection restored";
        glGetFloatv(GL_CURRENT_COLOR, colour);
        // The last pass carries the fraction above the power of two in its alpha.
        EXPECT_FLOAT_EQ(colour[3], c.factor == 6 ? 0.5f : c.factor == INT_MAX ? 1.0f : 0.0f) << c.factor;
    }
    glColor4f(1, 1, 1, 1);
}

class Streaks : public ScreenQuads {
  protected:
    PBuffer target;
    void SetUp() override {
        ScreenQuads::SetUp();
        if (IsSkipped()) return;
        target.initialize(32, 32, false);
    }
    Rgba targetTexel(int x, int y) {
        std::vector<unsigned char> texels(32 * 32 * 4);
        target.bind(WGL_FRONT_LEFT_ARB);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        target.release(WGL_FRONT_LEFT_ARB);
        return Rgba(texels.begin() + (y * 32 + x) * 4, texels.begin() + (y * 32 + x) * 4 + 4);
    }
    Texture* whiteTexture() {
        Texture* texture = registry.createTexture("white", 8, 8, GL_TEXTURE_2D, GL_RGBA);
        std::vector<unsigned char> texels(8 * 8 * 4, 255);
        texture->bind();
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 8, 8, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        return texture;
    }
    void paint(float r) {
        target.enable();
        glClearColor(r, r, r, r);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(0, 0, 0, 0); // the streak pass clears with the target's own clear colour
        target.disable();
    }
};

TEST_F(Streaks, CopiesAddUpWithTheIntensity) {
    Texture* texture = whiteTexture();
    // 2 copies each way at 0.125: 4 x 0.125 = 0.5 where all overlap.
    streakTexture(texture, &target, 2, 0, 0, 0.125f, false, false);
    EXPECT_NEAR(targetTexel(16, 16)[0], 128, 2);
    // Shifted copies leave the edges they uncover with fewer layers.
    streakTexture(texture, &target, 1, 0, 8, 0.25f, true, false);
    EXPECT_NEAR(targetTexel(4, 16)[0], 64, 2);
    EXPECT_EQ(targetTexel(28, 16)[0], 0);

    // From one target to another: the source's picture is what is summed.
    PBuffer source;
    source.initialize(32, 32, false);
    source.enable();
    glClearColor(0.5f, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    source.disable();
    streakPBuffer(&source, &target, 1, 0, 0, 1.0f, false, false);
    EXPECT_NEAR(targetTexel(16, 16)[0], 255, 2);
    EXPECT_EQ(targetTexel(16, 16)[1], 0);
}

// Two unshifted copies at half intensity reproduce the source texel for texel: the size quad's
// corners and texture coordinates neither flip nor mirror the picture.
TEST_F(Streaks, UnshiftedCopiesKeepTheOrientation) {
    PBuffer source;
    source.initialize(32, 32, false);
    source.enable();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 8, 32); // the first texel columns: red
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glScissor(0, 0, 32, 4); // the first texel rows: green
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 0);
    source.disable();

    streakPBuffer(&source, &target, 1, 0, 0, 0.5f, false, false);
    const auto near = [](const Rgba& got, const Rgba& expected) {
        for (int c = 0; c < 4; ++c)
            if (std::abs(got[c] - expected[c]) > 2) return false;
        return true;
    };
    EXPECT_TRUE(near(targetTexel(2, 16), red));
    EXPECT_TRUE(near(targetTexel(28, 16), black));
    EXPECT_TRUE(near(targetTexel(16, 1), green));
    EXPECT_TRUE(near(targetTexel(16, 30), black));
}

TEST_F(Streaks, NothingDrawnLeavesBlack) {
    Texture* texture = whiteTexture();
    paint(1);
    streakTexture(texture, &target, 0, 1, 0, 1.0f, false, false);
    EXPECT_EQ(targetTexel(16, 16), Rgba({0, 0, 0, 0}));
    paint(1);
    streakTexture(texture, &target, 4, 1, 0, 1.0f, true, true);
    EXPECT_EQ(targetTexel(16, 16), Rgba({0, 0, 0, 0}));
}

TEST_F(Streaks, VerticalPassLeavesItsTranslation) {
    Texture* texture = whiteTexture();
    target.enable();
    texture->bind();
    drawStreakQuads(32, 3, 2.5f, 1.0f, 0.1f, false, true);
    GLfloat m[16], colour[4];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    const bool blend = glIsEnabled(GL_BLEND), depth = glIsEnabled(GL_DEPTH_TEST),
               textured = glIsEnabled(GL_TEXTURE_2D);
    GLboolean depthWrites = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
    target.disable();
    EXPECT_FLOAT_EQ(m[12], 0.0f);
    EXPECT_FLOAT_EQ(m[13], -1.0f + 3 * 2.5f);
    EXPECT_FLOAT_EQ(colour[0], 1.0f);
    EXPECT_FALSE(blend);
    EXPECT_FALSE(textured);
    EXPECT_TRUE(depth);
    EXPECT_TRUE(depthWrites);
}

TEST_F(Streaks, UninitialisedTargetChangesNothing) {
    PBuffer none;
    Texture* texture = whiteTexture();
    glBindTexture(GL_TEXTURE_2D, texture->id);
    streakPBuffer(&target, &none, 2, 1, 0, 1, false, false);
    streakTexture(texture, &none, 2, 1, 0, 1, false, false);
    GLint framebuffer = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    EXPECT_EQ(framebuffer, 0);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), texture->id);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
