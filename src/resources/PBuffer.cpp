#include "resources/PBuffer.h"

#include "base/Report.h"
#include "platform/Platform.h"
#include "platform/RenderContext.h"

namespace {
// The window's binding, taken by the first initialize (the window's context is current then):
// what targets share objects with and return to on destroy.
platform::Binding mainBinding;

bool isMain(const platform::Binding& binding) {
    return binding.context != nullptr && binding.context == mainBinding.context;
}

// Work queued in the context being left must be complete before another context reads what it
// drew (or the texture storage it made); a fence waited on by the next context costs no stall here.
GLsync fenceBeforeSwitch() {
    if (!GLEW_ARB_sync) {
        glFinish();
        return nullptr;
    }
    return glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
}

void waitAfterSwitch(GLsync fence) {
    if (!fence) return;
    glWaitSync(fence, 0, GL_TIMEOUT_IGNORED);
    glDeleteSync(fence);
}
} // namespace

PBuffer::~PBuffer() {
    destroy();
}

void PBuffer::initialize(int w, int h, bool bindDepth) {
    if (initialized) return;
    width = w;
    height = h;

    if (!mainBinding.context) mainBinding = platform::currentBinding();
    const platform::Binding previous = platform::currentBinding();
    if (!mainBinding.context || !previous.context) {
        reportError(__FILE__, __LINE__, "PBuffer: Could not get device context", true);
        return;
    }
    const platform::GLCaps& caps = platform::glCaps();
    if (!caps.framebufferObject || (bindDepth && !caps.depthTextureTarget)) {
        reportError(__FILE__, __LINE__, "PBuffer: No pixel formats found", true);
        return;
    }
    GLint maxRenderbuffer = 0, maxTexture = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    const GLint maxSize = maxRenderbuffer < maxTexture ? maxRenderbuffer : maxTexture;
    if (w <= 0 || h <= 0 || w > maxSize || h > maxSize) {
        reportErrorText(__FILE__, __LINE__, "PBuffer: Could not create. ", "ERROR_INVALID_DATA", true);
        return;
    }

    context = platform::createSharedContext();
    if (!context) {
        reportError(__FILE__, __LINE__, "PBuffer: Could not create resource context", true);
        return;
    }

    GLsync ready = fenceBeforeSwitch();
    if (!platform::makeCurrent(context)) {
        reportError(__FILE__, __LINE__, "PBuffer: could not share lists", true);
        return;
    }
    waitAfterSwitch(ready);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    hasDepthTexture = bindDepth;
    if (bindDepth) {
        glGenTextures(1, &depthTexture);
        glBindTexture(GL_TEXTURE_2D, depthTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, w, h, 0, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT,
                     nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glBindTexture(GL_TEXTURE_2D, 0);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, depthTexture, 0);
    } else {
        glGenRenderbuffers(1, &depthRenderbuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, depthRenderbuffer);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthRenderbuffer);
    }
    const GLenum error = glGetError();
    ready = fenceBeforeSwitch();
    platform::makeBindingCurrent(previous);
    waitAfterSwitch(ready);
    if (error != GL_NO_ERROR) {
        reportErrorText(__FILE__, __LINE__, "PBuffer: Could not create. ",
                        report::format("ErrorCode: %d\n", static_cast<int>(error)).c_str(), true);
        return;
    }
    initialized = true;
}

bool PBuffer::attachColour() {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    attachedTexture = texture;
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

void PBuffer::enable() {
    checkGLError(__FILE__, __LINE__);
    if (!initialized) {
        reportError(__FILE__, __LINE__, "PBuffer not initialized", false);
        return;
    }
    if (texture == 0) createTexture();

    const platform::Binding saved = platform::currentBinding();
    savedWindow = saved.window;
    savedContext = saved.context;
    GLsync ready = fenceBeforeSwitch();
    if (!platform::makeCurrent(context)) {
        reportError(__FILE__, __LINE__, "PBuffer::enable() failed", true);
        return;
    }
    waitAfterSwitch(ready);
    if (attachedTexture != texture && !attachColour()) {
        reportError(__FILE__, __LINE__, "PBuffer::enable() failed", true);
        return;
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, width, height);
    checkGLError(__FILE__, __LINE__);
}

void PBuffer::disable() {
    checkGLError(__FILE__, __LINE__);
    // Without an enable there is nothing to return to; switching to "no context" would leave the
    // caller without one.
    if (!savedContext) {
        reportError(__FILE__, __LINE__, "PBuffer::disable failed", false);
        return;
    }
    platform::Binding saved;
    saved.window = savedWindow;
    saved.context = savedContext;
    GLsync ready = fenceBeforeSwitch();
    if (!platform::makeBindingCurrent(saved)) {
        reportError(__FILE__, __LINE__, "PBuffer::disable failed", false);
        return;
    }
    waitAfterSwitch(ready);
    if (isMain(saved)) {
        // Only the window's own framebuffer has a back buffer; a caller drawing into a
        // framebuffer object of its own keeps its buffers.
        GLint drawFramebuffer = 0;
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawFramebuffer);
        if (drawFramebuffer == 0) {
            glDrawBuffer(GL_BACK);
            glReadBuffer(GL_BACK);
        }
    }
    checkGLError(__FILE__, __LINE__);
}

void PBuffer::bind(int buffer) {
    if (!initialized) {
        reportError(__FILE__, __LINE__, "PBuffer not initialised", false);
        return;
    }
    checkGLError(__FILE__, __LINE__);
    const bool depth = buffer == WGL_DEPTH_COMPONENT_NV;
    glBindTexture(GL_TEXTURE_2D, depth && hasDepthTexture ? depthTexture : texture);
    checkGLError(__FILE__, __LINE__);
    if (buffer != WGL_FRONT_LEFT_ARB && !(depth && hasDepthTexture))
        reportError(__FILE__, __LINE__, "PBuffer::bind failed", false);
}

void PBuffer::release(int buffer) {
    const bool depth = buffer == WGL_DEPTH_COMPONENT_NV;
    if (!initialized || (buffer != WGL_FRONT_LEFT_ARB && !(depth && hasDepthTexture))) {
        reportError(__FILE__, __LINE__, "PBuffer::release failed", false);
        return;
    }
    const GLuint contents = depth ? depthTexture : texture;
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    if (contents != 0 && static_cast<GLuint>(bound) == contents) glBindTexture(GL_TEXTURE_2D, 0);
}

bool PBuffer::createTexture() {
    return createTexture(GL_CLAMP_TO_EDGE, GL_LINEAR, GL_LINEAR);
}

bool PBuffer::createTexture(GLint wrap, GLint minFilter, GLint magFilter) {
    if (textureCreated) return false;
    // Whatever context is current keeps its own texture binding.
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    textureCreated = true;
    return true;
}

void PBuffer::destroy() {
    if (!initialized) return;
    if (context) {
        if (platform::makeCurrent(context)) {
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            if (framebuffer) glDeleteFramebuffers(1, &framebuffer);
            if (depthRenderbuffer) glDeleteRenderbuffers(1, &depthRenderbuffer);
        }
        platform::makeBindingCurrent(mainBinding);
        platform::deleteRenderContext(context);
        context = nullptr;
    } else {
        platform::makeBindingCurrent(mainBinding);
    }
    framebuffer = 0;
    depthRenderbuffer = 0;
    attachedTexture = 0;
    if (depthTexture) glDeleteTextures(1, &depthTexture);
    depthTexture = 0;
    hasDepthTexture = false;
    if (textureCreated) {
        glDeleteTextures(1, &texture);
        texture = 0;
        textureCreated = false;
    }
    savedWindow = nullptr;
    savedContext = nullptr;
    initialized = false;
}
