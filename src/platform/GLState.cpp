#include "platform/GLState.h"

namespace glstate {
namespace detail {
Shadow shadow;
const DepthWatch* depthWatch = nullptr;
} // namespace detail

namespace {
using namespace detail;

constexpr std::uint32_t kAllSwitches = (1u << kSwitchCount) - 1;
constexpr std::uint32_t kAllGroups = (kViewport << 1) - 1;
// What current() hands back (the viewport is asked for on its own).
constexpr std::uint32_t kStateGroups = kAllGroups & ~kViewport;

// The attribute groups of glPushAttrib that hold each switch (besides GL_ENABLE_BIT).
constexpr GLbitfield kSwitchGroups[kSwitchCount] = {
    GL_COLOR_BUFFER_BIT, GL_DEPTH_BUFFER_BIT, GL_POLYGON_BIT, GL_TEXTURE_BIT, GL_LIGHTING_BIT,
    GL_COLOR_BUFFER_BIT, GL_FOG_BIT,          GL_POLYGON_BIT, GL_SCISSOR_BIT};

// What glPushAttrib saved, for glPopAttrib to put back. GL's own stack is 16 deep at least;
// deeper pushes are not followed (their pops make everything unknown).
struct Saved {
    GLbitfield mask;
    Shadow shadow;
};
constexpr int kStackDepth = 16;
Saved stack[kStackDepth];
int depth = 0;
int unfollowed = 0; // pushes past kStackDepth

void copyGroups(const Shadow& from, std::uint32_t groups) {
    State& to = shadow.state;
    if (groups & kProjection) std::memcpy(to.projection, from.state.projection, sizeof to.projection);
    if (groups & kModelview) std::memcpy(to.modelview, from.state.modelview, sizeof to.modelview);
    if (groups & kMatrixMode) to.matrixMode = from.state.matrixMode;
    if (groups & kBlendFunc) {
        to.blendSrc = from.state.blendSrc;
        to.blendDst = from.state.blendDst;
    }
    if (groups & kBlendEquation) to.blendEquation = from.state.blendEquation;
    if (groups & kColour) std::memcpy(to.colour, from.state.colour, sizeof to.colour);
    if (groups & kClearColour) std::memcpy(to.clearColour, from.state.clearColour, sizeof to.clearColour);
    if (groups & kDepthMask) to.depthMask = from.state.depthMask;
    if (groups & kColourMask) std::memcpy(to.colourMask, from.state.colourMask, sizeof to.colourMask);
    if (groups & kViewport) std::memcpy(shadow.viewport, from.viewport, sizeof shadow.viewport);
    if (groups & kActiveUnit) {
        shadow.activeUnit = from.activeUnit;
        std::memcpy(shadow.bindings, from.bindings, sizeof shadow.bindings);
        shadow.bindingsKnown = from.bindingsKnown;
    }
    shadow.known = (shadow.known & ~groups) | (from.known & groups);
}

bool sameFloats(const GLfloat* a, const GLfloat* b, int n) {
    return std::memcmp(a, b, static_cast<std::size_t>(n) * sizeof(GLfloat)) == 0;
}

GLfloat clamped(GLfloat v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}
} // namespace

namespace detail {
void pushAttrib(GLbitfield mask) {
    if (depth == kStackDepth) {
        ++unfollowed;
        return;
    }
    stack[depth].mask = mask;
    stack[depth].shadow = shadow;
    ++depth;
}

void popAttrib() {
    if (unfollowed > 0) {
        --unfollowed;
        forget();
        return;
    }
    if (depth == 0) return; // GL refuses the pop and changes nothing
    const Saved& saved = stack[--depth];
    const GLbitfield mask = saved.mask;
    std::uint32_t groups = 0;
    if (mask & GL_TRANSFORM_BIT) groups |= kMatrixMode;
    if (mask & GL_COLOR_BUFFER_BIT) groups |= kBlendFunc | kBlendEquation | kClearColour | kColourMask;
    if (mask & GL_CURRENT_BIT) groups |= kColour;
    if (mask & GL_DEPTH_BUFFER_BIT) groups |= kDepthMask;
    if (mask & GL_VIEWPORT_BIT) groups |= kViewport;
    if (mask & GL_TEXTURE_BIT) groups |= kActiveUnit;
    copyGroups(saved.shadow, groups);
    std::uint32_t switches = 0;
    for (int i = 0; i < kSwitchCount; ++i)
        if (mask & (GL_ENABLE_BIT | kSwitchGroups[i])) switches |= 1u << i;
    shadow.state.enables = (shadow.state.enables & ~switches) | (saved.shadow.state.enables & switches);
    shadow.enablesKnown = (shadow.enablesKnown & ~switches) | (saved.shadow.enablesKnown & switches);
    // The texture switch belongs to a unit: it was put back for the unit active when it was saved.
    const bool sameUnit = (shadow.known & kActiveUnit) && (saved.shadow.known & kActiveUnit) &&
                          shadow.activeUnit == saved.shadow.activeUnit;
    if (!sameUnit) shadow.enablesKnown &= ~(1u << switchIndex(GL_TEXTURE_2D));
}

void drawingWatched() {
    const int bit = switchIndex(GL_DEPTH_TEST);
    const bool on = (shadow.enablesKnown & (1u << bit)) ? (shadow.state.enables & (1u << bit)) != 0
                                                        : glIsEnabled(GL_DEPTH_TEST) == GL_TRUE;
    if (on) depthWatch->depthUsed();
}

void bindingsDeleted(GLsizei count, const GLuint* names) {
    for (GLsizei n = 0; n < count; ++n) {
        if (names[n] == 0) continue;
        for (int u = 0; u < kUnits; ++u)
            if ((shadow.bindingsKnown & (1u << u)) && shadow.bindings[u] == static_cast<GLint>(names[n]))
                shadow.bindings[u] = 0;
    }
}
} // namespace detail

State State::defaults() {
    State s{};
    for (int i = 0; i < 16; i += 5)
        s.projection[i] = s.modelview[i] = 1.0f;
    s.matrixMode = GL_MODELVIEW;
    s.enables = 0;
    s.blendSrc = GL_ONE;
    s.blendDst = GL_ZERO;
    s.blendEquation = GL_FUNC_ADD;
    for (float& c : s.colour)
        c = 1.0f;
    s.texture = 0;
    s.depthMask = GL_TRUE;
    for (GLboolean& m : s.colourMask)
        m = GL_TRUE;
    return s;
}

bool State::isOn(GLenum cap) const {
    const int i = switchIndex(cap);
    return i >= 0 && (enables & (1u << i)) != 0;
}

void State::read() {
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    enables = 0;
    for (int i = 0; i < kSwitchCount; ++i)
        if (glIsEnabled(kSwitches[i])) enables |= 1u << i;
    glGetIntegerv(GL_BLEND_SRC, &blendSrc);
    glGetIntegerv(GL_BLEND_DST, &blendDst);
    glGetIntegerv(GL_BLEND_EQUATION, &blendEquation);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    glGetBooleanv(GL_COLOR_WRITEMASK, colourMask);
}

void State::applyOver(const State& now) const {
    const bool projectionDiffers = !sameFloats(projection, now.projection, 16);
    const bool modelviewDiffers = !sameFloats(modelview, now.modelview, 16);
    if (projectionDiffers) {
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(projection);
    }
    if (modelviewDiffers) {
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(modelview);
    }
    if (projectionDiffers || modelviewDiffers || matrixMode != now.matrixMode)
        glMatrixMode(static_cast<GLenum>(matrixMode));
    const std::uint32_t changed = enables ^ now.enables;
    for (int i = 0; changed >> i; ++i) {
        if (!(changed & (1u << i))) continue;
        if (enables & (1u << i))
            glEnable(kSwitches[i]);
        else
            glDisable(kSwitches[i]);
    }
    if (blendSrc != now.blendSrc || blendDst != now.blendDst)
        glBlendFunc(static_cast<GLenum>(blendSrc), static_cast<GLenum>(blendDst));
    if (blendEquation != now.blendEquation) glBlendEquation(static_cast<GLenum>(blendEquation));
    if (!sameFloats(colour, now.colour, 4)) glColor4fv(colour);
    if (!sameFloats(clearColour, now.clearColour, 4))
        glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    if (texture != now.texture) glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    if (depthMask != now.depthMask) glDepthMask(depthMask);
    if (std::memcmp(colourMask, now.colourMask, sizeof colourMask) != 0)
        glColorMask(colourMask[0], colourMask[1], colourMask[2], colourMask[3]);
}

const State& current() {
    State& st = shadow.state;
    if ((shadow.known & kStateGroups) != kStateGroups || shadow.enablesKnown != kAllSwitches) {
        if (!(shadow.known & kProjection)) glGetFloatv(GL_PROJECTION_MATRIX, st.projection);
        if (!(shadow.known & kModelview)) glGetFloatv(GL_MODELVIEW_MATRIX, st.modelview);
        if (!(shadow.known & kMatrixMode)) glGetIntegerv(GL_MATRIX_MODE, &st.matrixMode);
        for (int i = 0; i < kSwitchCount; ++i) {
            const std::uint32_t bit = 1u << i;
            if (shadow.enablesKnown & bit) continue;
            st.enables = glIsEnabled(kSwitches[i]) ? (st.enables | bit) : (st.enables & ~bit);
        }
        shadow.enablesKnown = kAllSwitches;
        if (!(shadow.known & kBlendFunc)) {
            glGetIntegerv(GL_BLEND_SRC, &st.blendSrc);
            glGetIntegerv(GL_BLEND_DST, &st.blendDst);
        }
        if (!(shadow.known & kBlendEquation)) glGetIntegerv(GL_BLEND_EQUATION, &st.blendEquation);
        if (!(shadow.known & kColour)) glGetFloatv(GL_CURRENT_COLOR, st.colour);
        if (!(shadow.known & kClearColour)) glGetFloatv(GL_COLOR_CLEAR_VALUE, st.clearColour);
        if (!(shadow.known & kDepthMask)) glGetBooleanv(GL_DEPTH_WRITEMASK, &st.depthMask);
        if (!(shadow.known & kColourMask)) glGetBooleanv(GL_COLOR_WRITEMASK, st.colourMask);
        if (!(shadow.known & kActiveUnit)) {
            GLint unit = GL_TEXTURE0;
            glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
            shadow.activeUnit = unit - GL_TEXTURE0;
        }
        shadow.known |= kStateGroups;
    }
    const int unit = shadow.activeUnit;
    if (unit < 0 || unit >= kUnits) {
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &st.texture); // a unit not followed
    } else {
        if (!(shadow.bindingsKnown & (1u << unit))) {
            glGetIntegerv(GL_TEXTURE_BINDING_2D, &shadow.bindings[unit]);
            shadow.bindingsKnown |= 1u << unit;
        }
        st.texture = shadow.bindings[unit];
    }
    return st;
}

const GLint* viewport() {
    if (!(shadow.known & kViewport)) {
        glGetIntegerv(GL_VIEWPORT, shadow.viewport);
        shadow.known |= kViewport;
    }
    return shadow.viewport;
}

void watchDepth(const DepthWatch* watch) {
    depthWatch = watch;
}

void forget() {
    shadow.known = 0;
    shadow.enablesKnown = 0;
    shadow.bindingsKnown = 0;
    depth = 0;
    unfollowed = 0;
}

const char* firstDifference() {
    State gl{};
    gl.read();
    const State& st = shadow.state;
    const std::uint32_t known = shadow.known;
    if ((known & kProjection) && !sameFloats(st.projection, gl.projection, 16)) return "projection matrix";
    if ((known & kModelview) && !sameFloats(st.modelview, gl.modelview, 16)) return "modelview matrix";
    if ((known & kMatrixMode) && st.matrixMode != gl.matrixMode) return "matrix mode";
    for (int i = 0; i < kSwitchCount; ++i) {
        const std::uint32_t bit = 1u << i;
        if ((shadow.enablesKnown & bit) && (st.enables & bit) != (gl.enables & bit)) {
            static const char* const names[] = {
                "GL_BLEND",      "GL_DEPTH_TEST", "GL_CULL_FACE",           "GL_TEXTURE_2D",  "GL_LIGHTING",
                "GL_ALPHA_TEST", "GL_FOG",        "GL_POLYGON_OFFSET_FILL", "GL_SCISSOR_TEST"};
            return names[i];
        }
    }
    if ((known & kBlendFunc) && (st.blendSrc != gl.blendSrc || st.blendDst != gl.blendDst))
        return "blend function";
    if ((known & kBlendEquation) && st.blendEquation != gl.blendEquation) return "blend equation";
    if ((known & kColour) && !sameFloats(st.colour, gl.colour, 4)) return "current colour";
    if (known & kClearColour) {
        // GL hands the clear colour back clamped to what the colour buffer holds.
        for (int i = 0; i < 4; ++i)
            if (clamped(st.clearColour[i]) != gl.clearColour[i]) return "clear colour";
    }
    if ((known & kDepthMask) && st.depthMask != gl.depthMask) return "depth mask";
    if ((known & kColourMask) && std::memcmp(st.colourMask, gl.colourMask, sizeof gl.colourMask) != 0)
        return "colour mask";
    if (known & kActiveUnit) {
        GLint unit = 0;
        glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
        if (unit - GL_TEXTURE0 != shadow.activeUnit) return "active texture unit";
        const int u = shadow.activeUnit;
        if (u >= 0 && u < kUnits && (shadow.bindingsKnown & (1u << u)) && shadow.bindings[u] != gl.texture)
            return "2D texture binding";
    }
    if (known & kViewport) {
        GLint v[4];
        glGetIntegerv(GL_VIEWPORT, v);
        if (std::memcmp(v, shadow.viewport, sizeof v) != 0) return "viewport";
    }
    return nullptr;
}

} // namespace glstate
