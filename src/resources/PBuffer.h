// Off-screen render target that can afterwards be bound as a texture: a framebuffer object in the
// window's GL context. Each target keeps a small set of GL state as its own (TargetState: the
// matrices, the switches, blending, colours and texture binding its users set up) from one enable
// to the next, and what is drawn into it with that state does not reach the caller's.
#pragma once

#include "platform/GL.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Buffers that bind/release take: the colour contents, or the depth contents of a target
// initialised with bindDepth.
constexpr int WGL_FRONT_LEFT_ARB = 0x2083;
constexpr int WGL_DEPTH_COMPONENT_NV = 0x20A7;

// The GL state a render target swaps with its caller's on enable and back on disable (kept by the
// platform's state cache as it is set, so a swap reads nothing back from GL).
using TargetState = glstate::State;

// The colours and switches of the GL lights. Kept per target only by the targets whose users light
// what they draw (a scene drawn into a target sets its light colours there once, when it starts).
struct LightColours {
    static constexpr int kLights = 8; // GL's guaranteed minimum, all the engine numbers
    GLfloat colours[kLights][3][4];   // ambient, diffuse, specular
    std::uint8_t enabled;

    static LightColours defaults();
    void read();
    void apply() const;
};

// The buffers a target holds. Colour is what its texture shows; depth is what depth testing in it
// (or, with bindDepth, its depth texture) works on. A target whose users never depth-test what
// they draw into it needs no depth buffer, and one that is only ever read for its depth texture
// needs no colour; each leaves out 4 bytes a pixel. DepthWhenNeeded makes the depth buffer only
// when depthNeeded() says a draw or read needs it (counted against the limit from the start).
enum class TargetBuffers { ColourAndDepth, ColourOnly, DepthOnly, DepthWhenNeeded };

// How long what is drawn into a target matters. Kept: until it is drawn over (the default).
// RemadeEachFrame: its users clear it or draw over all of it in every frame before they read it,
// so the target holds storage only while frames use it. Its buffers are made, holding what a
// fresh target's clear leaves (transparent black, depth 1), when it is first drawn into or bound,
// and given back once no frame has drawn into it or bound it for kIdleMs of demo time
// (frameDone). A depth texture (bindDepth) is always kept.
enum class TargetLifetime { Kept, RemadeEachFrame };

class PBuffer {
  public:
    PBuffer() = default;
    ~PBuffer(); // destroy()
    PBuffer(const PBuffer&) = delete;
    PBuffer& operator=(const PBuffer&) = delete;

    // Creates the target (RGBA8 colour, 24-bit depth; a depth texture when bindDepth; `buffers`
    // leaves out one of the two). Does nothing when already initialised. Failures are fatal, among
    // them the storage of all targets together passing storageLimit(). Without depth, depth testing
    // in the target passes every fragment; without colour, there is no texture to create or bind.
    void initialize(int width, int height, bool bindDepth,
                    TargetBuffers buffers = TargetBuffers::ColourAndDepth,
                    TargetLifetime lifetime = TargetLifetime::Kept);
    bool isInitialized() const { return initialized; }
    // False while a RemadeEachFrame target has given its buffers back (or not made them yet).
    bool holdsStorage() const { return storageHeld; }

    // Demo time a RemadeEachFrame target may go unused before frameDone gives its buffers back.
    static constexpr int kIdleMs = 2000;
    // Called after each frame with its demo time: RemadeEachFrame targets that the frame used are
    // marked used at `time`, and those unused for kIdleMs (either way, as a jump may go back) give
    // their buffers back. Returns whether any did.
    static bool frameDone(int time);

    // Draws into the target from now on (its framebuffer, a viewport over all of it and its own
    // state); disable returns to the framebuffer, viewport and state of the caller, so targets nest.
    void enable();
    void disable();

    // Binds the colour (WGL_FRONT_LEFT_ARB) or depth (WGL_DEPTH_COMPONENT_NV) contents as the current
    // GL_TEXTURE_2D; release must follow before the target is drawn into again.
    void bind(int buffer);
    void release(int buffer);

    // The colour texture: wrap S/T GL_CLAMP_TO_EDGE and GL_LINEAR filters, or the given ones.
    // False (and nothing done) when it exists already.
    bool createTexture();
    bool createTexture(GLint wrap, GLint minFilter, GLint magFilter);

    // Releases everything; the object can be initialised again.
    void destroy();

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    GLuint getTexture() const { return texture; }
    GLuint getDepthTexture() const { return depthTexture; }

    // Bytes of GL storage that all targets together may hold (colour, depth and the depth texture):
    // running past it is a fatal report naming the limit instead of the driver running out of
    // memory somewhere. HOLDFAST_TARGET_MEMORY_MIB sets it for a run; setStorageLimit for a test.
    static std::size_t storageLimit();
    static void setStorageLimit(std::size_t bytes);
    static std::size_t storageInUse();

    // Called by the engine before it sets lights or draws with them: inside a target the caller's
    // lights are put aside and the target's own put in place (a fresh target's are GL's defaults),
    // so that light colours too are the target's own. Targets whose users never light anything
    // (all but those that draw a scene) pay nothing for it.
    static void lightsInUse();

    // For targets made with TargetBuffers::DepthWhenNeeded. depthNeeded comes before every draw
    // call made while the depth test is on, and before depth is read back: the target drawn into
    // now gets its depth buffer, holding what the depth clears since it was made left there.
    // clearing comes before every glClear: a full depth clear of a target without its buffer is
    // remembered, a scissored one makes the buffer first.
    // The GL state cache calls both for the target drawn into while its depth buffer is pending.
    static void depthNeeded();
    static void clearing(GLbitfield mask);
    bool depthPending() const { return depthDeferred; }

  private:
    // The framebuffer drawn into now: the current target's, else the one that stands for the
    // window (the platform's frame target where there is one).
    static GLuint drawnInto();
    bool attachColour();
    void makeDepth();
    void makeColourTexture();
    void clearFreshColour();
    bool makeStorage();
    void giveBackStorage();
    void releaseStorage();

    GLuint texture = 0;
    int width = 0;
    int height = 0;
    bool initialized = false;
    bool textureCreated = false;
    bool enabled = false;

    bool hasColour = true;
    bool hasDepthTexture = false;
    GLuint framebuffer = 0;
    GLuint depthRenderbuffer = 0;
    GLuint depthTexture = 0;
    bool depthDeferred = false; // DepthWhenNeeded and not made yet
    bool depthCleared = false;  // a depth clear came while deferred, to clearedDepth
    GLdouble clearedDepth = 1.0;
    GLuint attachedTexture = 0; // colour texture currently attached to the framebuffer
    std::size_t storage = 0;    // bytes counted against the limit

    TargetLifetime lifetime = TargetLifetime::Kept;
    bool storageHeld = true;              // false: a RemadeEachFrame target without its buffers
    bool remadeDepth = false;             // a RemadeEachFrame target with a depth buffer
    bool usedThisFrame = false;           // drawn into or bound since the last frameDone
    int lastUsed = 0;                     // demo time of the last frame that used it
    GLint textureWrap = GL_CLAMP_TO_EDGE; // the colour texture's parameters, to make it again
    GLint textureMinFilter = GL_LINEAR;
    GLint textureMagFilter = GL_LINEAR;

    TargetState own = TargetState::defaults(); // this target's state while the caller's is current
    TargetState caller{};                      // the caller's, while this target is enabled
    GLint callerViewport[4] = {0, 0, 0, 0};
    PBuffer* previous = nullptr; // the target that was drawn into before enable (none: the window's frame)

    std::unique_ptr<LightColours> ownLights; // none until this target's users set lights
    LightColours callerLights{};
    bool callerLightsSaved = false; // while enabled: callerLights holds the caller's
};
