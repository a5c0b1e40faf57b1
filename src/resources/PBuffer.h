// Off-screen render target that can afterwards be bound as a texture. Each target has its own
// GL context (sharing texture objects with the window's), so it keeps its own matrices and
// state from one enable to the next, and nothing it does reaches the caller's context.
#pragma once

#include "platform/GL.h"

namespace platform {
struct RenderContext;
}

// Buffers that bind/release take: the colour contents, or the depth contents of a target
// initialised with bindDepth.
constexpr int WGL_FRONT_LEFT_ARB = 0x2083;
constexpr int WGL_DEPTH_COMPONENT_NV = 0x20A7;

class PBuffer {
  public:
    PBuffer() = default;
    ~PBuffer(); // destroy()
    PBuffer(const PBuffer&) = delete;
    PBuffer& operator=(const PBuffer&) = delete;

    // Creates the target (RGBA8 colour, 24-bit depth; a depth texture when bindDepth). Does nothing
    // when already initialised. Failures are fatal.
    void initialize(int width, int height, bool bindDepth);
    bool isInitialized() const { return initialized; }

    // Makes the target current (saving whatever was current); disable returns to that, so
    // targets nest. Back at the window, draw and read buffer are GL_BACK again.
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

  private:
    bool attachColour();

    GLuint texture = 0;
    platform::RenderContext* context = nullptr;
    void* savedWindow = nullptr;
    void* savedContext = nullptr;
    int width = 0;
    int height = 0;
    bool initialized = false;
    bool textureCreated = false;

    bool hasDepthTexture = false;
    GLuint framebuffer = 0;       // lives in `context`
    GLuint depthRenderbuffer = 0; // lives in `context`
    GLuint depthTexture = 0;
    GLuint attachedTexture = 0; // colour texture currently attached to the framebuffer
};
