// What the program has told GL about the state a render target keeps as its own (matrices, a few
// switches, blending, colours, the 2D texture binding, write masks, viewport), remembered as it is
// set so that switching targets needs no glGet round trips. The GL calls that set it are routed
// through the wrappers below by the macros at the end of this header, which every file gets through
// platform/GL.h. Whatever the wrappers cannot follow exactly (a matrix multiplied, a colour left
// behind by a draw from arrays, an attribute pop past what was pushed) becomes unknown and is read
// from GL the next time it is asked for.
#pragma once

#include <GL/glew.h>
#include <GL/glu.h>

#include <cstdint>
#include <cstring>

namespace glstate {

// The switches a render target keeps as its own: those its users turn on and off around drawing.
constexpr GLenum kSwitches[] = {GL_BLEND,       GL_DEPTH_TEST, GL_CULL_FACE, GL_TEXTURE_2D,
                                GL_LIGHTING,    GL_ALPHA_TEST, GL_FOG,       GL_POLYGON_OFFSET_FILL,
                                GL_SCISSOR_TEST};
constexpr int kSwitchCount = static_cast<int>(sizeof(kSwitches) / sizeof(kSwitches[0]));
static_assert(kSwitchCount <= 32, "one bit per switch");
constexpr int kUnits = 8; // texture units whose 2D binding is followed

// The state a render target swaps with its caller's. A fresh target starts from GL's defaults.
struct State {
    GLfloat projection[16];
    GLfloat modelview[16];
    GLint matrixMode;
    std::uint32_t enables; // one bit per entry of kSwitches
    GLint blendSrc, blendDst, blendEquation;
    GLfloat colour[4];
    GLfloat clearColour[4];
    GLint texture; // GL_TEXTURE_BINDING_2D of the active unit
    GLboolean depthMask;
    GLboolean colourMask[4];

    static State defaults();
    // Whether one of kSwitches is on.
    bool isOn(GLenum cap) const;
    // Reads all of it from GL.
    void read();
    // Sets what differs from `current` (the state GL holds now).
    void applyOver(const State& current) const;
};

// The state GL holds now, read from GL only where it is not known.
const State& current();
// The viewport GL holds now.
const GLint* viewport();
// Everything unknown: another context became current, or GL was changed behind the wrappers.
void forget();
// A render target whose depth buffer is made on first use asks, while it is drawn into, to hear
// of every draw made with the depth test on, every read of depth, and every clear (null: nobody).
struct DepthWatch {
    void (*depthUsed)();
    void (*clearing)(GLbitfield mask);
};
void watchDepth(const DepthWatch* watch);
// The first known value that GL does not hold (its name), or null when all agree. For checks.
const char* firstDifference();

namespace detail {
enum Group : std::uint32_t {
    kProjection = 1u << 0,
    kModelview = 1u << 1,
    kMatrixMode = 1u << 2,
    kBlendFunc = 1u << 3,
    kBlendEquation = 1u << 4,
    kColour = 1u << 5,
    kClearColour = 1u << 6,
    kActiveUnit = 1u << 7,
    kDepthMask = 1u << 8,
    kColourMask = 1u << 9,
    kViewport = 1u << 10,
};

struct Shadow {
    State state;             // state.texture is derived from the bindings when asked for
    std::uint32_t known = 0; // Group bits
    std::uint32_t enablesKnown = 0;
    GLint activeUnit = 0; // index, GL_TEXTURE0-based
    GLint bindings[kUnits] = {};
    std::uint32_t bindingsKnown = 0;
    GLint viewport[4] = {};
};
extern Shadow shadow;

void pushAttrib(GLbitfield mask);
void popAttrib();
extern const DepthWatch* depthWatch;
void drawingWatched(); // tells the watch when the depth test is on
inline void drawing() {
    if (depthWatch) drawingWatched();
}
inline bool isDepthFormat(GLenum format) {
    return format == GL_DEPTH_COMPONENT || format == GL_DEPTH_COMPONENT16 || format == GL_DEPTH_COMPONENT24 ||
           format == GL_DEPTH_COMPONENT32 || format == GL_DEPTH_STENCIL || format == GL_DEPTH24_STENCIL8;
}
inline void readingDepth(GLenum format) {
    if (depthWatch && isDepthFormat(format)) depthWatch->depthUsed();
}
void bindingsDeleted(GLsizei count, const GLuint* names);

inline int switchIndex(GLenum cap) {
    switch (cap) {
    case GL_BLEND:
        return 0;
    case GL_DEPTH_TEST:
        return 1;
    case GL_CULL_FACE:
        return 2;
    case GL_TEXTURE_2D:
        return 3;
    case GL_LIGHTING:
        return 4;
    case GL_ALPHA_TEST:
        return 5;
    case GL_FOG:
        return 6;
    case GL_POLYGON_OFFSET_FILL:
        return 7;
    case GL_SCISSOR_TEST:
        return 8;
    default:
        return -1;
    }
}

inline void setSwitch(GLenum cap, bool on) {
    const int i = switchIndex(cap);
    if (i < 0) return;
    const std::uint32_t bit = 1u << i;
    shadow.state.enables = on ? (shadow.state.enables | bit) : (shadow.state.enables & ~bit);
    shadow.enablesKnown |= bit;
}

// The matrix that the matrix mode selects, or both when the mode is not known.
inline std::uint32_t currentMatrixGroup() {
    if (!(shadow.known & kMatrixMode)) return kProjection | kModelview;
    if (shadow.state.matrixMode == GL_PROJECTION) return kProjection;
    if (shadow.state.matrixMode == GL_MODELVIEW) return kModelview;
    return 0; // the texture and colour matrices are not followed
}
inline void matrixChanged() {
    shadow.known &= ~currentMatrixGroup();
}
inline void matrixLoaded(const GLfloat* m) {
    const std::uint32_t group = currentMatrixGroup();
    if (group == kProjection)
        std::memcpy(shadow.state.projection, m, sizeof shadow.state.projection);
    else if (group == kModelview)
        std::memcpy(shadow.state.modelview, m, sizeof shadow.state.modelview);
    else {
        shadow.known &= ~group;
        return;
    }
    shadow.known |= group;
}
inline void colourSet(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    shadow.state.colour[0] = r;
    shadow.state.colour[1] = g;
    shadow.state.colour[2] = b;
    shadow.state.colour[3] = a;
    shadow.known |= kColour;
}
// The texture switch and binding followed are the active unit's.
inline void unitSelected(GLenum unit) {
    const GLint index = static_cast<GLint>(unit) - GL_TEXTURE0;
    if (!(shadow.known & kActiveUnit) || index != shadow.activeUnit)
        shadow.enablesKnown &= ~(1u << switchIndex(GL_TEXTURE_2D));
    shadow.activeUnit = index;
    shadow.known |= kActiveUnit;
}
} // namespace detail

// ---- the wrappers ----------------------------------------------------------------------------
inline void enable(GLenum cap) {
    detail::setSwitch(cap, true);
    glEnable(cap);
}
inline void disable(GLenum cap) {
    detail::setSwitch(cap, false);
    glDisable(cap);
}

inline void matrixMode(GLenum mode) {
    detail::shadow.state.matrixMode = static_cast<GLint>(mode);
    detail::shadow.known |= detail::kMatrixMode;
    glMatrixMode(mode);
}
inline void loadIdentity() {
    static const GLfloat identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    detail::matrixLoaded(identity);
    glLoadIdentity();
}
inline void loadMatrixf(const GLfloat* m) {
    detail::matrixLoaded(m);
    glLoadMatrixf(m);
}
inline void loadMatrixd(const GLdouble* m) {
    detail::matrixChanged();
    glLoadMatrixd(m);
}
inline void multMatrixf(const GLfloat* m) {
    detail::matrixChanged();
    glMultMatrixf(m);
}
inline void multMatrixd(const GLdouble* m) {
    detail::matrixChanged();
    glMultMatrixd(m);
}
inline void translatef(GLfloat x, GLfloat y, GLfloat z) {
    detail::matrixChanged();
    glTranslatef(x, y, z);
}
inline void translated(GLdouble x, GLdouble y, GLdouble z) {
    detail::matrixChanged();
    glTranslated(x, y, z);
}
inline void rotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z) {
    detail::matrixChanged();
    glRotatef(a, x, y, z);
}
inline void rotated(GLdouble a, GLdouble x, GLdouble y, GLdouble z) {
    detail::matrixChanged();
    glRotated(a, x, y, z);
}
inline void scalef(GLfloat x, GLfloat y, GLfloat z) {
    detail::matrixChanged();
    glScalef(x, y, z);
}
inline void scaled(GLdouble x, GLdouble y, GLdouble z) {
    detail::matrixChanged();
    glScaled(x, y, z);
}
inline void ortho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
    detail::matrixChanged();
    glOrtho(l, r, b, t, n, f);
}
inline void frustum(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
    detail::matrixChanged();
    glFrustum(l, r, b, t, n, f);
}
inline void popMatrix() {
    detail::matrixChanged();
    glPopMatrix();
}
inline void perspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
    detail::matrixChanged();
    gluPerspective(fovy, aspect, zNear, zFar);
}
inline void lookAt(GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz, GLdouble ux,
                   GLdouble uy, GLdouble uz) {
    detail::matrixChanged();
    gluLookAt(ex, ey, ez, cx, cy, cz, ux, uy, uz);
}
inline void ortho2D(GLdouble l, GLdouble r, GLdouble b, GLdouble t) {
    detail::matrixChanged();
    gluOrtho2D(l, r, b, t);
}

inline void color3f(GLfloat r, GLfloat g, GLfloat b) {
    detail::colourSet(r, g, b, 1.0f);
    glColor3f(r, g, b);
}
inline void color4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    detail::colourSet(r, g, b, a);
    glColor4f(r, g, b, a);
}
inline void color3fv(const GLfloat* v) {
    detail::colourSet(v[0], v[1], v[2], 1.0f);
    glColor3fv(v);
}
inline void color4fv(const GLfloat* v) {
    detail::colourSet(v[0], v[1], v[2], v[3]);
    glColor4fv(v);
}
// Byte colours are converted by GL; the result is read back when needed.
inline void color3ub(GLubyte r, GLubyte g, GLubyte b) {
    detail::shadow.known &= ~detail::kColour;
    glColor3ub(r, g, b);
}
inline void color4ub(GLubyte r, GLubyte g, GLubyte b, GLubyte a) {
    detail::shadow.known &= ~detail::kColour;
    glColor4ub(r, g, b, a);
}
// A draw from arrays with a colour array leaves the current colour undefined.
inline void begin(GLenum mode) {
    detail::drawing();
    glBegin(mode);
}
inline void clear(GLbitfield mask) {
    if (detail::depthWatch) detail::depthWatch->clearing(mask);
    glClear(mask);
}
inline void readPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type, void* pixels) {
    detail::readingDepth(format);
    glReadPixels(x, y, w, h, format, type, pixels);
}
inline void copyTexImage2D(GLenum target, GLint level, GLenum format, GLint x, GLint y, GLsizei w, GLsizei h,
                           GLint border) {
    detail::readingDepth(format);
    glCopyTexImage2D(target, level, format, x, y, w, h, border);
}
inline void drawElements(GLenum mode, GLsizei count, GLenum type, const void* indices) {
    detail::drawing();
    detail::shadow.known &= ~detail::kColour;
    glDrawElements(mode, count, type, indices);
}
inline void drawArrays(GLenum mode, GLint first, GLsizei count) {
    detail::drawing();
    detail::shadow.known &= ~detail::kColour;
    glDrawArrays(mode, first, count);
}
inline void callList(GLuint list) {
    detail::drawing();
    forget();
    glCallList(list);
}

inline void blendFunc(GLenum src, GLenum dst) {
    detail::shadow.state.blendSrc = static_cast<GLint>(src);
    detail::shadow.state.blendDst = static_cast<GLint>(dst);
    detail::shadow.known |= detail::kBlendFunc;
    glBlendFunc(src, dst);
}
inline void blendFuncSeparate(GLenum srcRGB, GLenum dstRGB, GLenum srcAlpha, GLenum dstAlpha) {
    detail::shadow.known &= ~detail::kBlendFunc;
    glBlendFuncSeparate(srcRGB, dstRGB, srcAlpha, dstAlpha);
}
inline void blendEquation(GLenum mode) {
    detail::shadow.state.blendEquation = static_cast<GLint>(mode);
    detail::shadow.known |= detail::kBlendEquation;
    glBlendEquation(mode);
}
inline void clearColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    GLfloat* c = detail::shadow.state.clearColour;
    c[0] = r;
    c[1] = g;
    c[2] = b;
    c[3] = a;
    detail::shadow.known |= detail::kClearColour;
    glClearColor(r, g, b, a);
}
inline void depthMask(GLboolean flag) {
    detail::shadow.state.depthMask = flag ? GL_TRUE : GL_FALSE;
    detail::shadow.known |= detail::kDepthMask;
    glDepthMask(flag);
}
inline void colorMask(GLboolean r, GLboolean g, GLboolean b, GLboolean a) {
    GLboolean* m = detail::shadow.state.colourMask;
    m[0] = r ? GL_TRUE : GL_FALSE;
    m[1] = g ? GL_TRUE : GL_FALSE;
    m[2] = b ? GL_TRUE : GL_FALSE;
    m[3] = a ? GL_TRUE : GL_FALSE;
    detail::shadow.known |= detail::kColourMask;
    glColorMask(r, g, b, a);
}
inline void viewportSet(GLint x, GLint y, GLsizei w, GLsizei h) {
    GLint* v = detail::shadow.viewport;
    v[0] = x;
    v[1] = y;
    v[2] = w;
    v[3] = h;
    // A negative size is refused by GL and leaves the old viewport.
    if (w < 0 || h < 0)
        detail::shadow.known &= ~detail::kViewport;
    else
        detail::shadow.known |= detail::kViewport;
    glViewport(x, y, w, h);
}

inline void bindTexture(GLenum target, GLuint name) {
    using namespace detail;
    if (target == GL_TEXTURE_2D && (shadow.known & kActiveUnit) && shadow.activeUnit < kUnits) {
        shadow.bindings[shadow.activeUnit] = static_cast<GLint>(name);
        shadow.bindingsKnown |= 1u << shadow.activeUnit;
    } else if (target == GL_TEXTURE_2D) {
        shadow.bindingsKnown = 0;
    }
    glBindTexture(target, name);
}
inline void activeTexture(GLenum unit) {
    detail::unitSelected(unit);
    glActiveTexture(unit);
}
inline void activeTextureARB(GLenum unit) {
    detail::unitSelected(unit);
    glActiveTextureARB(unit);
}
inline void deleteTextures(GLsizei count, const GLuint* names) {
    detail::bindingsDeleted(count, names);
    glDeleteTextures(count, names);
}
inline void pushAttrib(GLbitfield mask) {
    detail::pushAttrib(mask);
    glPushAttrib(mask);
}
inline void popAttrib() {
    glPopAttrib();
    detail::popAttrib();
}

} // namespace glstate

// Every GL call below sets state that is followed; the rest of the program calls them by their GL
// names as usual.
#undef glActiveTexture
#undef glActiveTextureARB
#undef glBlendEquation
#undef glBlendFuncSeparate
#define glEnable(cap) glstate::enable(cap)
#define glDisable(cap) glstate::disable(cap)
#define glMatrixMode(mode) glstate::matrixMode(mode)
#define glLoadIdentity() glstate::loadIdentity()
#define glLoadMatrixf(m) glstate::loadMatrixf(m)
#define glLoadMatrixd(m) glstate::loadMatrixd(m)
#define glMultMatrixf(m) glstate::multMatrixf(m)
#define glMultMatrixd(m) glstate::multMatrixd(m)
#define glTranslatef(x, y, z) glstate::translatef(x, y, z)
#define glTranslated(x, y, z) glstate::translated(x, y, z)
#define glRotatef(a, x, y, z) glstate::rotatef(a, x, y, z)
#define glRotated(a, x, y, z) glstate::rotated(a, x, y, z)
#define glScalef(x, y, z) glstate::scalef(x, y, z)
#define glScaled(x, y, z) glstate::scaled(x, y, z)
#define glOrtho(l, r, b, t, n, f) glstate::ortho(l, r, b, t, n, f)
#define glFrustum(l, r, b, t, n, f) glstate::frustum(l, r, b, t, n, f)
#define glPopMatrix() glstate::popMatrix()
#define gluPerspective(fovy, aspect, zNear, zFar) glstate::perspective(fovy, aspect, zNear, zFar)
#define gluLookAt(ex, ey, ez, cx, cy, cz, ux, uy, uz) glstate::lookAt(ex, ey, ez, cx, cy, cz, ux, uy, uz)
#define gluOrtho2D(l, r, b, t) glstate::ortho2D(l, r, b, t)
#define glColor3f(r, g, b) glstate::color3f(r, g, b)
#define glColor4f(r, g, b, a) glstate::color4f(r, g, b, a)
#define glColor3fv(v) glstate::color3fv(v)
#define glColor4fv(v) glstate::color4fv(v)
#define glColor3ub(r, g, b) glstate::color3ub(r, g, b)
#define glColor4ub(r, g, b, a) glstate::color4ub(r, g, b, a)
#define glBegin(mode) glstate::begin(mode)
#define glClear(mask) glstate::clear(mask)
#define glReadPixels(x, y, w, h, format, type, pixels) glstate::readPixels(x, y, w, h, format, type, pixels)
#define glCopyTexImage2D(target, level, format, x, y, w, h, border)                                          \
    glstate::copyTexImage2D(target, level, format, x, y, w, h, border)
#define glDrawElements(mode, count, type, indices) glstate::drawElements(mode, count, type, indices)
#define glDrawArrays(mode, first, count) glstate::drawArrays(mode, first, count)
#define glCallList(list) glstate::callList(list)
#define glBlendFunc(src, dst) glstate::blendFunc(src, dst)
#define glBlendFuncSeparate(sr, dr, sa, da) glstate::blendFuncSeparate(sr, dr, sa, da)
#define glBlendEquation(mode) glstate::blendEquation(mode)
#define glClearColor(r, g, b, a) glstate::clearColor(r, g, b, a)
#define glDepthMask(flag) glstate::depthMask(flag)
#define glColorMask(r, g, b, a) glstate::colorMask(r, g, b, a)
#define glViewport(x, y, w, h) glstate::viewportSet(x, y, w, h)
#define glBindTexture(target, name) glstate::bindTexture(target, name)
#define glActiveTexture(unit) glstate::activeTexture(unit)
#define glActiveTextureARB(unit) glstate::activeTextureARB(unit)
#define glDeleteTextures(count, names) glstate::deleteTextures(count, names)
#define glPushAttrib(mask) glstate::pushAttrib(mask)
#define glPopAttrib() glstate::popAttrib()
