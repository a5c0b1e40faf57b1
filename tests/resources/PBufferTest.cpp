#include "GLTest.h"
#include "ReportCapture.h"

#include "resources/PBuffer.h"

#include <array>
#include <vector>

namespace {

using Matrix = std::array<float, 16>;

Matrix matrix(GLenum which) {
    Matrix m{};
    glGetFloatv(which, m.data());
    return m;
}

GLint integer(GLenum name) {
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

// Level 0 of the currently bound 2D texture.
std::vector<unsigned char> boundColour(int width, int height) {
    std::vector<unsigned char> texels(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

// The RGBA bytes of texel (x, y) of a width-wide read-back.
std::vector<unsigned char> texelAt(const std::vector<unsigned char>& texels, int width, int x, int y) {
    const auto first = texels.begin() + (static_cast<std::ptrdiff_t>(y) * width + x) * 4;
    return std::vector<unsigned char>(first, first + 4);
}

void clearTo(float r, float g, float b) {
    glClearColor(r, g, b, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// A quad over the left half of the unit square at depth z (-1..1 maps to 0..1).
void leftHalf(float z) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glBegin(GL_QUADS);
    glVertex3f(0, 0, -z);
    glVertex3f(0.5f, 0, -z);
    glVertex3f(0.5f, 1, -z);
    glVertex3f(0, 1, -z);
    glEnd();
}

using RenderTargets = GLTest;

TEST_F(RenderTargets, NestedTargetsReturnToTheirCallers) {
    PBuffer a, b;
    a.initialize(64, 32, false);
    b.initialize(16, 16, false);
    ASSERT_TRUE(a.isInitialized());
    EXPECT_EQ(a.getWidth(), 64);
    EXPECT_EQ(a.getHeight(), 32);
    a.enable();
    const GLint inA = integer(GL_FRAMEBUFFER_BINDING);
    EXPECT_NE(inA, 0);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 64);
    EXPECT_EQ(viewport[3], 32);
    clearTo(1, 0, 0);

    b.enable();
    clearTo(0, 1, 0);
    b.disable();
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), inA);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 64);
    // Back in A, drawing still lands in A.
    glDisable(GL_DEPTH_TEST);
    glColor3f(0, 0, 1);
    leftHalf(0);
    a.disable();

    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(integer(GL_DRAW_BUFFER), GL_BACK);
    EXPECT_EQ(integer(GL_READ_BUFFER), GL_BACK);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);

    a.bind(WGL_FRONT_LEFT_ARB);
    auto colourA = boundColour(64, 32);
    a.release(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);
    const std::vector<unsigned char> blue = {0, 0, 255, 255}, red = {255, 0, 0, 255};
    EXPECT_EQ(
        std::vector<unsigned char>(colourA.begin() + (10 * 64 + 5) * 4, colourA.begin() + (10 * 64 + 6) * 4),
        blue);
    EXPECT_EQ(std::vector<unsigned char>(colourA.begin() + (10 * 64 + 60) * 4,
                                         colourA.begin() + (10 * 64 + 61) * 4),
              red);
    b.bind(WGL_FRONT_LEFT_ARB);
    auto colourB = boundColour(16, 16);
    b.release(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(colourB[0], 0);
    EXPECT_EQ(colourB[1], 255);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(RenderTargets, CallerStateIsUntouchedAndTargetStateIsKept) {
    PBuffer target;
    target.initialize(32, 32, false);
    GLuint callers = 0;
    glGenTextures(1, &callers);
    glBindTexture(GL_TEXTURE_2D, callers);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-3, 3, -2, 2, -5, 5);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(1, 2, 3);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glColor4f(0.25f, 0.5f, 0.75f, 1);
    const Matrix projection = matrix(GL_PROJECTION_MATRIX), modelview = matrix(GL_MODELVIEW_MATRIX);

    target.enable();
    // A fresh target starts from GL's defaults, not from the caller's state.
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(matrix(GL_MODELVIEW_MATRIX)[12], 0.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 10, 0, 10, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotatef(30, 0, 0, 1);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glColor4f(1, 0, 0, 1);
    const Matrix targetModelview = matrix(GL_MODELVIEW_MATRIX),
                 targetProjection = matrix(GL_PROJECTION_MATRIX);
    target.disable();

    EXPECT_EQ(matrix(GL_PROJECTION_MATRIX), projection);
    EXPECT_EQ(matrix(GL_MODELVIEW_MATRIX), modelview);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE);
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[2], 0.75f);
    // Making the target's texture (at its first enable) left the caller's texture bound; a release
    // unbinds the target's texture only.
    ASSERT_NE(target.getTexture(), 0u);
    EXPECT_EQ(static_cast<GLuint>(integer(GL_TEXTURE_BINDING_2D)), callers);
    target.bind(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(static_cast<GLuint>(integer(GL_TEXTURE_BINDING_2D)), target.getTexture());
    glBindTexture(GL_TEXTURE_2D, callers);
    target.release(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(static_cast<GLuint>(integer(GL_TEXTURE_BINDING_2D)), callers);
    target.bind(WGL_FRONT_LEFT_ARB);
    target.release(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);
    glDeleteTextures(1, &callers);

    target.enable();
    EXPECT_EQ(matrix(GL_MODELVIEW_MATRIX), targetModelview);
    EXPECT_EQ(matrix(GL_PROJECTION_MATRIX), targetProjection);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(integer(GL_BLEND_DST), GL_ZERO);
    target.disable();

    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glColor4f(1, 1, 1, 1);
    glBlendFunc(GL_ONE, GL_ZERO);
}

TEST_F(RenderTargets, DepthContentsCanBeBound) {
    PBuffer shadow;
    shadow.initialize(32, 32, true);
    shadow.enable();
    glClearDepth(1.0);
    clearTo(0, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    leftHalf(0.0f); // depth 0.5
    shadow.disable();

    shadow.bind(WGL_DEPTH_COMPONENT_NV);
    EXPECT_EQ(static_cast<GLuint>(integer(GL_TEXTURE_BINDING_2D)), shadow.getDepthTexture());
    std::vector<float> depth(32 * 32);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    shadow.release(WGL_DEPTH_COMPONENT_NV);
    EXPECT_NEAR(depth[16 * 32 + 4], 0.5f, 0.01f);
    EXPECT_NEAR(depth[16 * 32 + 28], 1.0f, 0.01f);

    // A target without a depth texture has no depth contents to bind.
    PBuffer plain;
    plain.initialize(8, 8, false);
    ReportCapture reports;
    plain.bind(WGL_DEPTH_COMPONENT_NV);
    plain.release(WGL_DEPTH_COMPONENT_NV);
    EXPECT_TRUE(reports.has("PBuffer::bind failed", false));
    EXPECT_TRUE(reports.has("PBuffer::release failed", false));
}

// A target may leave out the depth buffer (its users never depth-test) or the colour (only its
// depth texture is read); each counts 4 bytes a pixel and still draws what it keeps.
TEST_F(RenderTargets, TargetsWithoutDepthOrWithoutColour) {
    const std::size_t before = PBuffer::storageInUse();
    PBuffer shadow;
    shadow.initialize(32, 32, true, TargetBuffers::DepthOnly);
    ASSERT_TRUE(shadow.isInitialized());
    EXPECT_EQ(PBuffer::storageInUse(), before + 32 * 32 * 4);
    EXPECT_FALSE(shadow.createTexture());
    shadow.enable();
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glClearDepth(1.0);
    clearTo(0, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    leftHalf(0.0f); // depth 0.5
    shadow.disable();
    EXPECT_EQ(shadow.getTexture(), 0u);
    shadow.bind(WGL_DEPTH_COMPONENT_NV);
    std::vector<float> depth(32 * 32);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    shadow.release(WGL_DEPTH_COMPONENT_NV);
    EXPECT_NEAR(depth[16 * 32 + 4], 0.5f, 0.01f);
    EXPECT_NEAR(depth[16 * 32 + 28], 1.0f, 0.01f);

    PBuffer flat;
    flat.initialize(16, 16, false, TargetBuffers::ColourOnly);
    EXPECT_EQ(PBuffer::storageInUse(), before + 32 * 32 * 4 + 16 * 16 * 4);
    flat.enable();
    clearTo(0, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glColor3f(1, 0, 0);
    leftHalf(-0.5f); // near
    glColor3f(0, 0, 1);
    leftHalf(0.5f); // far: without a depth buffer every fragment passes
    flat.disable();
    flat.bind(WGL_FRONT_LEFT_ARB);
    const auto colour = boundColour(16, 16);
    flat.release(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(colour[(8 * 16 + 2) * 4 + 2], 255);
    EXPECT_EQ(colour[(8 * 16 + 2) * 4 + 0], 0);
    EXPECT_EQ(colour[(8 * 16 + 12) * 4 + 2], 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    shadow.destroy();
    flat.destroy();
    EXPECT_EQ(PBuffer::storageInUse(), before);
    glDisable(GL_DEPTH_TEST);
    glColor3f(1, 1, 1);
}

// A target that makes its depth buffer when a draw first needs it depth-tests like one that had it
// from the start: here the depth test comes on only in the second use, after a depth clear that
// the target had no buffer for yet.
// Whether the framebuffer bound now has a depth attachment.
bool hasDepthAttachment() {
    GLint type = GL_NONE;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &type);
    return type != GL_NONE;
}

// The GL calls themselves tell the target: no call site asks for the depth buffer.
TEST_F(RenderTargets, DepthMadeWhenFirstNeededHoldsTheEarlierClear) {
    const std::size_t before = PBuffer::storageInUse();
    PBuffer lazy, eager;
    lazy.initialize(32, 32, false, TargetBuffers::DepthWhenNeeded);
    eager.initialize(32, 32, false);
    EXPECT_EQ(PBuffer::storageInUse(), before + 2 * 32 * 32 * 8);
    for (PBuffer* target : {&lazy, &eager}) {
        target->enable();
        glClearColor(0, 1, 0, 1);
        glClearDepth(0.25);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glClearDepth(1.0);
        glDisable(GL_DEPTH_TEST);
        leftHalf(0.9f); // flat: needs no depth, writes none
        EXPECT_EQ(hasDepthAttachment(), target == &eager);
        target->disable();

        target->enable();
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glColor3f(0, 0, 1);
        leftHalf(-0.6f); // depth 0.2: in front of the cleared 0.25
        glColor3f(1, 0, 0);
        leftHalf(0.0f);    // depth 0.5: behind the blue
        glBegin(GL_QUADS); // the right half at depth 0.3: behind the cleared 0.25
        glVertex3f(0.5f, 0, 0.4f);
        glVertex3f(1, 0, 0.4f);
        glVertex3f(1, 1, 0.4f);
        glVertex3f(0.5f, 1, 0.4f);
        glEnd();
        glDisable(GL_DEPTH_TEST);
        target->disable();
    }
    lazy.bind(WGL_FRONT_LEFT_ARB);
    const auto drawn = boundColour(32, 32);
    lazy.release(WGL_FRONT_LEFT_ARB);
    eager.bind(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(boundColour(32, 32), drawn);
    eager.release(WGL_FRONT_LEFT_ARB);
    const std::vector<unsigned char> blue = {0, 0, 255, 255}, green = {0, 255, 0, 255};
    EXPECT_EQ(texelAt(drawn, 32, 4, 16), blue);
    EXPECT_EQ(texelAt(drawn, 32, 28, 16), green);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glColor3f(1, 1, 1);
    glEnable(GL_DEPTH_TEST);
}

TEST_F(RenderTargets, UseBeforeInitializeIsReportedAndSkipped) {
    PBuffer target;
    ReportCapture reports;
    const GLint boundBefore = integer(GL_TEXTURE_BINDING_2D);
    target.enable();
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), 0);
    target.bind(WGL_FRONT_LEFT_ARB);
    target.release(WGL_FRONT_LEFT_ARB);
    target.disable();
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), boundBefore);
    EXPECT_TRUE(reports.has("PBuffer not initialized", false));
    EXPECT_TRUE(reports.has("PBuffer not initialised", false));
    EXPECT_TRUE(reports.has("PBuffer::release failed", false));
    EXPECT_TRUE(reports.has("PBuffer::disable failed", false));

    // Enabled again inside its own use: said plainly and skipped; one disable returns to the caller.
    target.initialize(16, 16, false);
    target.enable();
    const GLint drawn = integer(GL_FRAMEBUFFER_BINDING);
    target.enable();
    EXPECT_TRUE(reports.has("PBuffer is already enabled", false));
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), drawn);
    target.disable();
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), 0);
    for (const auto& r : reports.all())
        EXPECT_FALSE(r.fatal) << r.text;
}

TEST_F(RenderTargets, InitializeTwiceKeepsTheFirst) {
    PBuffer target;
    target.initialize(32, 32, false);
    target.enable();
    target.disable();
    const GLuint texture = target.getTexture();
    target.initialize(128, 128, true);
    EXPECT_EQ(target.getWidth(), 32);
    EXPECT_EQ(target.getTexture(), texture);
    EXPECT_EQ(target.getDepthTexture(), 0u);
}

TEST_F(RenderTargets, TextureCreationForms) {
    PBuffer plain, custom;
    plain.initialize(16, 16, false);
    custom.initialize(16, 16, false);
    EXPECT_TRUE(plain.createTexture());
    EXPECT_FALSE(plain.createTexture());
    EXPECT_TRUE(custom.createTexture(GL_REPEAT, GL_LINEAR, GL_NEAREST));
    EXPECT_FALSE(custom.createTexture(GL_CLAMP_TO_EDGE, GL_LINEAR, GL_LINEAR));
    // The caller's binding survives creation.
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);

    GLint wrap = 0, mag = 0;
    glBindTexture(GL_TEXTURE_2D, plain.getTexture());
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
    EXPECT_EQ(wrap, GL_CLAMP_TO_EDGE);
    EXPECT_EQ(mag, GL_LINEAR);
    glBindTexture(GL_TEXTURE_2D, custom.getTexture());
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
    EXPECT_EQ(wrap, GL_REPEAT);
    EXPECT_EQ(mag, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);

    // A texture made before the first enable is the one drawn into.
    custom.enable();
    clearTo(0, 0, 1);
    custom.disable();
    glBindTexture(GL_TEXTURE_2D, custom.getTexture());
    EXPECT_EQ(boundColour(16, 16)[2], 255);
    glBindTexture(GL_TEXTURE_2D, 0);
}

TEST_F(RenderTargets, DestroyLeavesAReusableObject) {
    PBuffer target;
    target.initialize(32, 32, false);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(4, 0, 0);
    target.enable();
    glLoadIdentity();
    target.destroy(); // while it is drawn into: the caller gets its framebuffer and state back
    EXPECT_FALSE(target.isInitialized());
    EXPECT_EQ(target.getTexture(), 0u);
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(matrix(GL_MODELVIEW_MATRIX)[12], 4.0f);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    glLoadIdentity();

    target.initialize(8, 8, false);
    ASSERT_TRUE(target.isInitialized());
    target.enable();
    clearTo(0, 1, 0);
    target.disable();
    target.bind(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(boundColour(8, 8)[1], 255);
    target.release(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(RenderTargets, ImpossibleSizeIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ensureGLContext();
            PBuffer target;
            target.initialize(0, 64, false);
        },
        ::testing::ExitedWithCode(1), "PBuffer: Could not create. : ERROR_INVALID_DATA");
}

TEST_F(RenderTargets, TextureBindingClearColourAndMasksArePerTarget) {
    PBuffer target;
    target.initialize(8, 8, false);
    GLuint textures[2];
    glGenTextures(2, textures);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    glClearColor(0.5f, 0, 0, 1);
    glDepthMask(GL_FALSE);

    target.enable();
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.0f);
    GLboolean depthMask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    EXPECT_TRUE(depthMask);
    glBindTexture(GL_TEXTURE_2D, textures[1]);
    glClear(GL_COLOR_BUFFER_BIT); // black
    glClearColor(0, 0, 1, 1);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_TRUE);
    target.disable();

    EXPECT_EQ(static_cast<GLuint>(integer(GL_TEXTURE_BINDING_2D)), textures[0]);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.5f);
    GLboolean colourMask[4];
    glGetBooleanv(GL_COLOR_WRITEMASK, colourMask);
    EXPECT_TRUE(colourMask[1]);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    EXPECT_FALSE(depthMask);

    // The target's clear colour and mask are still its own: white drawn there leaves green out.
    target.enable();
    EXPECT_EQ(static_cast<GLuint>(integer(GL_TEXTURE_BINDING_2D)), textures[1]);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[2], 1.0f);
    glBindTexture(GL_TEXTURE_2D, 0);
    leftHalf(0);
    target.disable();
    target.bind(WGL_FRONT_LEFT_ARB);
    const auto texels = boundColour(8, 8);
    target.release(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(texels[0], 255);
    EXPECT_EQ(texels[1], 0);
    EXPECT_EQ(texels[2], 255);

    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(2, textures);
    glClearColor(0, 0, 0, 0);
    glDepthMask(GL_TRUE);
}

// All targets together hold at most storageLimit() bytes: the one that would pass it is a fatal
// report naming the limit, and what a destroyed target held is free again.
TEST_F(RenderTargets, StorageBeyondTheLimitIsFatal) {
    const std::size_t before = PBuffer::storageInUse();
    {
        PBuffer a;
        a.initialize(64, 32, false);
        EXPECT_EQ(PBuffer::storageInUse(), before + 64 * 32 * 8);
        a.destroy();
        EXPECT_EQ(PBuffer::storageInUse(), before);
        a.initialize(16, 16, true);
        EXPECT_EQ(PBuffer::storageInUse(), before + 16 * 16 * 8);
    }
    EXPECT_EQ(PBuffer::storageInUse(), before);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ensureGLContext();
            PBuffer::setStorageLimit(PBuffer::storageInUse() + (1u << 20));
            PBuffer first;
            PBuffer second;
            PBuffer third;
            first.initialize(256, 256, false); // 0.5 MiB
            second.initialize(256, 256, false);
            third.initialize(256, 256, false);
        },
        ::testing::ExitedWithCode(1),
        "PBuffer: Could not create. : too many render targets: 1.0 MiB in use, 0.5 MiB more asked for, limit "
        "1.0 MiB");
}

// Light colours are set once when a scene starts, in the window and again inside each target that
// draws it; a scene drawn into a target keeps its colours there, and the window keeps its own.
TEST_F(RenderTargets, LightColoursSetInATargetStayThere) {
    auto diffuse = [](GLenum light) {
        std::array<GLfloat, 4> c{};
        glGetLightfv(light, GL_DIFFUSE, c.data());
        return c;
    };
    const std::array<GLfloat, 4> red = {1, 0, 0, 1}, green = {0, 1, 0, 1}, white = {1, 1, 1, 1},
                                 black = {0, 0, 0, 1};
    PBuffer::lightsInUse(); // in the window: nothing to put aside
    glLightfv(GL_LIGHT0, GL_DIFFUSE, red.data());
    glLightfv(GL_LIGHT1, GL_DIFFUSE, red.data());
    glEnable(GL_LIGHT1);

    PBuffer target, other;
    target.initialize(8, 8, false);
    other.initialize(8, 8, false);
    target.enable();
    PBuffer::lightsInUse();
    // A target's lights start from GL's defaults.
    EXPECT_EQ(diffuse(GL_LIGHT0), white);
    EXPECT_EQ(diffuse(GL_LIGHT1), black);
    EXPECT_FALSE(glIsEnabled(GL_LIGHT1));
    glLightfv(GL_LIGHT0, GL_DIFFUSE, green.data());
    glEnable(GL_LIGHT0);
    other.enable();
    PBuffer::lightsInUse();
    EXPECT_EQ(diffuse(GL_LIGHT0), white);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, black.data());
    other.disable();
    EXPECT_EQ(diffuse(GL_LIGHT0), green);
    target.disable();

    EXPECT_EQ(diffuse(GL_LIGHT0), red);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT1));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    target.enable();
    EXPECT_EQ(diffuse(GL_LIGHT0), green);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    target.disable();
    EXPECT_EQ(diffuse(GL_LIGHT0), red);

    glLightfv(GL_LIGHT0, GL_DIFFUSE, white.data());
    glLightfv(GL_LIGHT1, GL_DIFFUSE, black.data());
    glDisable(GL_LIGHT1);
}

} // namespace

// A target whose users remake it every frame holds memory only while frames use it: made, as a
// fresh target's clear leaves it, at the first draw or bind, given back after two seconds of demo
// time without use (or a jump that far back), made again the same way. Its own state stays, the
// caller's scissor, masks and clear colour are untouched, and the texture it is bound as shows it.
TEST_F(RenderTargets, RemadeEachFrameTargetsHoldMemoryOnlyWhileFramesUseThem) {
    PBuffer remade;
    remade.initialize(32, 32, false, TargetBuffers::ColourAndDepth, TargetLifetime::RemadeEachFrame);
    remade.createTexture();
    EXPECT_FALSE(remade.holdsStorage());
    EXPECT_EQ(remade.getTexture(), 0u);

    // Read before anything drew into it: transparent black, as a cleared fresh target.
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 4, 4);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_TRUE);
    glClearColor(0.5f, 0.5f, 0.5f, 0.5f);
    remade.bind(WGL_FRONT_LEFT_ARB);
    EXPECT_TRUE(remade.holdsStorage());
    EXPECT_EQ(boundColour(32, 32), std::vector<unsigned char>(32 * 32 * 4, 0));
    remade.release(WGL_FRONT_LEFT_ARB);
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    GLboolean mask[4];
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    EXPECT_FALSE(mask[1]);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_FLOAT_EQ(clear[0], 0.5f);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    // Drawn into in a frame at 1 s, with a clear colour of its own.
    remade.enable();
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    remade.disable();
    EXPECT_FALSE(PBuffer::frameDone(1000));
    EXPECT_FALSE(PBuffer::frameDone(2999)); // unused for less than two seconds
    EXPECT_TRUE(remade.holdsStorage());
    EXPECT_TRUE(PBuffer::frameDone(3000));
    EXPECT_FALSE(remade.holdsStorage());
    EXPECT_EQ(remade.getTexture(), 0u);

    // Made again when drawn into: fresh colour, depth as cleared to 1, the clear colour its own.
    remade.enable();
    EXPECT_TRUE(remade.holdsStorage());
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_FLOAT_EQ(clear[2], 1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glColor3f(1, 0, 0);
    leftHalf(0.98f); // depth 0.99: in front of 1
    glDisable(GL_DEPTH_TEST);
    glColor3f(1, 1, 1);
    remade.disable();
    remade.bind(WGL_FRONT_LEFT_ARB);
    const auto drawn = boundColour(32, 32);
    remade.release(WGL_FRONT_LEFT_ARB);
    const std::vector<unsigned char> red = {255, 0, 0, 255}, clearBlack = {0, 0, 0, 0};
    EXPECT_EQ(texelAt(drawn, 32, 4, 16), red);
    EXPECT_EQ(texelAt(drawn, 32, 28, 16), clearBlack);

    // A jump back as far gives it back too; a kept target never gives anything back.
    PBuffer kept;
    kept.initialize(16, 16, false);
    kept.createTexture();
    EXPECT_FALSE(PBuffer::frameDone(3000));
    EXPECT_TRUE(PBuffer::frameDone(500));
    EXPECT_FALSE(remade.holdsStorage());
    EXPECT_TRUE(kept.holdsStorage());
    EXPECT_NE(kept.getTexture(), 0u);
    remade.destroy();
    EXPECT_FALSE(PBuffer::frameDone(100000));
    glClearColor(0, 0, 0, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
