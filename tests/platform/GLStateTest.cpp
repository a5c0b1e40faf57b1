#include "GLTest.h"

#include "platform/GL.h"

#include <cstring>
#include <string>

namespace {

class GLStateCache : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        glstate::forget();
    }
    void TearDown() override {
        // Later tests in this process start from GL's defaults again.
        if (!IsSkipped()) {
            glstate::State::defaults().applyOver(glstate::current());
            glActiveTexture(GL_TEXTURE0);
            glViewport(0, 0, 800, 600);
            while (glGetError() != GL_NO_ERROR) {
            }
        }
        GLTest::TearDown();
    }

    // What the cache hands out is what GL holds, field by field.
    static void expectInStep(const char* where) {
        const char* difference = glstate::firstDifference();
        EXPECT_EQ(difference == nullptr ? std::string() : std::string(difference), std::string()) << where;
        const glstate::State& cached = glstate::current();
        glstate::State gl{};
        gl.read();
        EXPECT_EQ(std::memcmp(cached.projection, gl.projection, sizeof gl.projection), 0) << where;
        EXPECT_EQ(std::memcmp(cached.modelview, gl.modelview, sizeof gl.modelview), 0) << where;
        EXPECT_EQ(cached.matrixMode, gl.matrixMode) << where;
        EXPECT_EQ(cached.enables, gl.enables) << where;
        EXPECT_EQ(cached.blendSrc, gl.blendSrc) << where;
        EXPECT_EQ(cached.blendDst, gl.blendDst) << where;
        EXPECT_EQ(cached.blendEquation, gl.blendEquation) << where;
        EXPECT_EQ(std::memcmp(cached.colour, gl.colour, sizeof gl.colour), 0) << where;
        EXPECT_EQ(cached.texture, gl.texture) << where;
        EXPECT_EQ(cached.depthMask, gl.depthMask) << where;
        EXPECT_EQ(std::memcmp(cached.colourMask, gl.colourMask, sizeof gl.colourMask), 0) << where;
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(std::memcmp(glstate::viewport(), viewport, sizeof viewport), 0) << where;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << where;
    }
};

TEST_F(GLStateCache, FollowsWhatIsSetAndFindsWhatWasSetBehindItsBack) {
    expectInStep("fresh");
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 800, 0, 600, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(1, 2, 3);
    glRotatef(30, 0, 0, 1);
    glEnable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glBlendEquation(GL_FUNC_REVERSE_SUBTRACT);
    glColor4f(0.25f, 0.5f, 0.75f, 0.125f);
    glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
    glDepthMask(GL_FALSE);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
    glViewport(10, 20, 300, 200);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    expectInStep("after the wrappers");

    // A byte colour is converted by GL; a draw from a colour array leaves the colour to GL.
    glColor4ub(255, 128, 0, 64);
    expectInStep("byte colour");
    const GLfloat vertices[] = {0, 0, 1, 0, 0, 1};
    const GLubyte colours[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, vertices);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    expectInStep("draw from arrays");

    // Calls that go around the wrappers are named by the check, until the cache is told.
    (glEnable)(GL_FOG);
    EXPECT_STREQ(glstate::firstDifference(), "GL_FOG");
    (glDisable)(GL_FOG);
    (glBlendFunc)(GL_ONE, GL_ONE);
    EXPECT_STREQ(glstate::firstDifference(), "blend function");
    glstate::forget();
    expectInStep("after forget");
    glDeleteTextures(1, &texture);
}

TEST_F(GLStateCache, AttributePopsPutBackWhatTheirMaskSaved) {
    glEnable(GL_CULL_FACE);
    glBlendFunc(GL_ONE, GL_ONE);
    glColor3f(0.5f, 0.5f, 0.5f);
    glMatrixMode(GL_PROJECTION);
    expectInStep("before the push");

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);
    glEnable(GL_SCISSOR_TEST);
    glBlendFunc(GL_ZERO, GL_SRC_COLOR);
    glColor3f(1, 0, 0);
    glClearColor(1, 1, 0, 1);
    glDepthMask(GL_FALSE);
    glViewport(1, 2, 3, 4);
    glMatrixMode(GL_MODELVIEW);
    glActiveTexture(GL_TEXTURE1);
    glEnable(GL_TEXTURE_2D);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    expectInStep("inside the push");
    glPopAttrib();
    expectInStep("after popping everything");

    // Only the colour buffer's group: blending comes back, the depth mask and colour do not.
    glPushAttrib(GL_COLOR_BUFFER_BIT);
    glDisable(GL_BLEND);
    glEnable(GL_BLEND);
    glBlendFunc(GL_DST_COLOR, GL_ZERO);
    glDepthMask(GL_FALSE);
    glColor3f(0, 1, 0);
    glEnable(GL_DEPTH_TEST);
    glPopAttrib();
    expectInStep("after popping the colour buffer group");
    EXPECT_EQ(glstate::current().blendSrc, GL_ONE);
    EXPECT_EQ(glstate::current().depthMask, GL_FALSE);

    // The texture switch is each unit's own.
    glPushAttrib(GL_ENABLE_BIT);
    glActiveTexture(GL_TEXTURE2);
    glEnable(GL_TEXTURE_2D);
    glPopAttrib();
    expectInStep("after popping the switches on another unit");
    glActiveTexture(GL_TEXTURE0);
    expectInStep("back on unit 0");

    // A pop with nothing pushed changes nothing (GL refuses it).
    glPopAttrib();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_STACK_UNDERFLOW));
    expectInStep("after a refused pop");
    glDeleteTextures(1, &texture);
}

TEST_F(GLStateCache, DeletingABoundTextureUnbindsItOnEveryUnit) {
    GLuint textures[2] = {0, 0};
    glGenTextures(2, textures);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textures[1]);
    glDeleteTextures(1, &textures[0]);
    expectInStep("unit 0 after deleting unit 1's texture");
    glActiveTexture(GL_TEXTURE1);
    expectInStep("unit 1 after its texture was deleted");
    EXPECT_EQ(glstate::current().texture, 0);
    glActiveTexture(GL_TEXTURE0);
    glDeleteTextures(1, &textures[1]);
    expectInStep("unit 0 after its own was deleted");
}

} // namespace
