#include "resources/PBuffer.h"

#include "base/Report.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// The target drawn into now; null while drawing goes to the window's framebuffer.
PBuffer* currentTarget = nullptr;

constexpr std::size_t kDefaultStorageLimit = std::size_t{1} << 30; // 1 GiB
std::size_t storageLimitBytes = 0;                                 // 0: not decided yet
std::size_t storageUsed = 0;
// The RemadeEachFrame targets, for frameDone.
std::vector<PBuffer*> remadeTargets;

std::size_t limitFromEnvironment() {
    const char* text = std::getenv("HOLDFAST_TARGET_MEMORY_MIB");
    if (!text || !*text) return kDefaultStorageLimit;
    char* end = nullptr;
    errno = 0;
    const unsigned long long mib = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || mib > (std::size_t{1} << 40)) {
        reportErrorText(__FILE__, __LINE__, "HOLDFAST_TARGET_MEMORY_MIB is not a count of MiB", text, true);
        return kDefaultStorageLimit;
    }
    return static_cast<std::size_t>(mib) << 20;
}

// Debug builds (the sanitizer suite among them) check at every switch that the state cache agrees
// with GL, so that any test finds a GL call setting followed state behind the cache's back.
void checkStateCache() {
#ifndef NDEBUG
    if (const char* what = glstate::firstDifference())
        reportErrorText(__FILE__, __LINE__, "GL state cache out of step with GL: ", what, true);
#endif
}
} // namespace

LightColours LightColours::defaults() {
    LightColours l{};
    for (int i = 0; i < kLights; ++i)
        l.colours[i][0][3] = l.colours[i][1][3] = l.colours[i][2][3] = 1.0f;
    for (int k = 0; k < 4; ++k)
        l.colours[0][1][k] = l.colours[0][2][k] = 1.0f; // light 0 is white by default
    l.enabled = 0;
    return l;
}

void LightColours::read() {
    enabled = 0;
    for (int i = 0; i < kLights; ++i) {
        const GLenum light = GL_LIGHT0 + i;
        glGetLightfv(light, GL_AMBIENT, colours[i][0]);
        glGetLightfv(light, GL_DIFFUSE, colours[i][1]);
        glGetLightfv(light, GL_SPECULAR, colours[i][2]);
        if (glIsEnabled(light)) enabled |= 1u << i;
    }
}

void LightColours::apply() const {
    for (int i = 0; i < kLights; ++i) {
        const GLenum light = GL_LIGHT0 + i;
        glLightfv(light, GL_AMBIENT, colours[i][0]);
        glLightfv(light, GL_DIFFUSE, colours[i][1]);
        glLightfv(light, GL_SPECULAR, colours[i][2]);
        if (enabled & (1u << i))
            glEnable(light);
        else
            glDisable(light);
    }
}

void PBuffer::lightsInUse() {
    PBuffer* target = currentTarget;
    if (!target || target->callerLightsSaved) return;
    target->callerLights.read();
    target->callerLightsSaved = true;
    if (!target->ownLights) {
        target->ownLights = std::make_unique<LightColours>(LightColours::defaults());
        target->ownLights->apply();
    }
}

std::size_t PBuffer::storageLimit() {
    if (storageLimitBytes == 0) storageLimitBytes = limitFromEnvironment();
    return storageLimitBytes;
}

void PBuffer::setStorageLimit(std::size_t bytes) {
    storageLimitBytes = bytes;
}

std::size_t PBuffer::storageInUse() {
    return storageUsed;
}

GLuint PBuffer::drawnInto() {
    return currentTarget ? currentTarget->framebuffer : platform::frameFramebuffer();
}

PBuffer::~PBuffer() {
    destroy();
}

void PBuffer::initialize(int w, int h, bool bindDepth, TargetBuffers buffers, TargetLifetime life) {
    if (initialized) return;
    width = w;
    height = h;

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
    // Colour and depth, four bytes a pixel each, are what a target holds in the driver.
    const bool colour = buffers != TargetBuffers::DepthOnly;
    const bool depth = bindDepth || buffers != TargetBuffers::ColourOnly; // bindDepth keeps its texture
    const std::size_t bytes =
        static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * ((colour ? 4 : 0) + (depth ? 4 : 0));
    if (bytes > storageLimit() || storageUsed > storageLimit() - bytes) {
        const double mib = 1024.0 * 1024.0;
        reportErrorText(__FILE__, __LINE__, "PBuffer: Could not create. ",
                        report::format("too many render targets: %.1f MiB in use, %.1f MiB more asked for, "
                                       "limit %.1f MiB (HOLDFAST_TARGET_MEMORY_MIB)",
                                       static_cast<double>(storageUsed) / mib,
                                       static_cast<double>(bytes) / mib,
                                       static_cast<double>(storageLimit()) / mib)
                            .c_str(),
                        true);
        return;
    }

    checkGLError(__FILE__, __LINE__); // an earlier fault is not this target's
    GLint previousTexture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    hasColour = colour;
    hasDepthTexture = bindDepth;
    const bool remade = life == TargetLifetime::RemadeEachFrame && colour && !bindDepth;
    if (remade) {
        // Nothing is made until a frame uses the target; depth then as a fresh target's clear left it.
        remadeDepth = depth;
        depthDeferred = depth;
        depthCleared = depth;
        clearedDepth = 1.0;
    } else if (hasDepthTexture) {
        glGenTextures(1, &depthTexture);
        glBindTexture(GL_TEXTURE_2D, depthTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, w, h, 0, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT,
                     nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, depthTexture, 0);
    } else if (buffers == TargetBuffers::DepthWhenNeeded) {
        depthDeferred = true;
        depthCleared = false;
    } else if (depth) {
        glGenRenderbuffers(1, &depthRenderbuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, depthRenderbuffer);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthRenderbuffer);
    }
    // Drawing and reading go to the colour attachment; the framebuffer object keeps that. A target
    // without colour is complete now, as no colour texture will be attached at enable.
    glDrawBuffer(colour ? GL_COLOR_ATTACHMENT0 : GL_NONE);
    glReadBuffer(colour ? GL_COLOR_ATTACHMENT0 : GL_NONE);
    const bool complete = colour || glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, drawnInto());
    GLenum error = glGetError();
    if (error == GL_NO_ERROR && !complete) error = GL_INVALID_FRAMEBUFFER_OPERATION;
    storage = bytes;
    storageUsed += bytes;
    if (error != GL_NO_ERROR) {
        releaseStorage();
        reportErrorText(__FILE__, __LINE__, "PBuffer: Could not create. ",
                        report::format("ErrorCode: %d\n", static_cast<int>(error)).c_str(), true);
        return;
    }
    own = TargetState::defaults();
    initialized = true;
    lifetime = remade ? TargetLifetime::RemadeEachFrame : TargetLifetime::Kept;
    storageHeld = !remade;
    usedThisFrame = false;
    if (remade) remadeTargets.push_back(this);
}

void PBuffer::makeDepth() {
    // Called with this target's framebuffer bound.
    depthDeferred = false;
    glstate::watchDepth(nullptr);
    glGenRenderbuffers(1, &depthRenderbuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, depthRenderbuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthRenderbuffer);
    if (!depthCleared) return; // never cleared: undefined, as a fresh buffer's contents are
    const glstate::State& now = glstate::current();
    const bool scissor = now.isOn(GL_SCISSOR_TEST);
    const bool mask = now.depthMask == GL_TRUE;
    GLdouble value = 1.0;
    glGetDoublev(GL_DEPTH_CLEAR_VALUE, &value);
    if (scissor) glDisable(GL_SCISSOR_TEST);
    if (!mask) glDepthMask(GL_TRUE);
    glClearDepth(clearedDepth);
    glClear(GL_DEPTH_BUFFER_BIT);
    glClearDepth(value);
    if (!mask) glDepthMask(GL_FALSE);
    if (scissor) glEnable(GL_SCISSOR_TEST);
}

namespace {
// Follows the draws, depth reads and clears of a target whose depth buffer is not made yet.
const glstate::DepthWatch depthWatch = {&PBuffer::depthNeeded, &PBuffer::clearing};

void watchDepthOf(const PBuffer* target) {
    glstate::watchDepth(target && target->depthPending() ? &depthWatch : nullptr);
}
} // namespace

void PBuffer::depthNeeded() {
    if (currentTarget && currentTarget->depthDeferred) currentTarget->makeDepth();
}

void PBuffer::clearing(GLbitfield mask) {
    PBuffer* target = currentTarget;
    if (!(mask & GL_DEPTH_BUFFER_BIT) || !target || !target->depthDeferred) return;
    const glstate::State& now = glstate::current();
    if (now.depthMask != GL_TRUE) return; // the clear leaves depth as it is
    if (now.isOn(GL_SCISSOR_TEST)) {
        target->makeDepth(); // part of it: the rest keeps what it had
        return;
    }
    glGetDoublev(GL_DEPTH_CLEAR_VALUE, &target->clearedDepth);
    target->depthCleared = true;
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
    if (enabled) {
        // Already drawn into further out: its framebuffer is the one bound, nothing to swap.
        reportError(__FILE__, __LINE__, "PBuffer is already enabled", false);
        return;
    }
    if (texture == 0) createTexture();

    caller = glstate::current();
    checkStateCache();
    const GLint* viewport = glstate::viewport();
    for (int i = 0; i < 4; ++i)
        callerViewport[i] = viewport[i];
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    usedThisFrame = true;
    const bool complete = !storageHeld ? makeStorage() : attachedTexture == texture || attachColour();
    if (!complete) {
        glBindFramebuffer(GL_FRAMEBUFFER, drawnInto());
        reportError(__FILE__, __LINE__, "PBuffer::enable() failed", true);
        return;
    }
    previous = currentTarget;
    currentTarget = this;
    enabled = true;
    watchDepthOf(this);
    glViewport(0, 0, width, height);
    own.applyOver(caller);
    if (ownLights) {
        callerLights.read();
        callerLightsSaved = true;
        ownLights->apply();
    }
    checkGLError(__FILE__, __LINE__);
}

void PBuffer::disable() {
    checkGLError(__FILE__, __LINE__);
    // Without an enable there is no caller to return to.
    if (!enabled) {
        reportError(__FILE__, __LINE__, "PBuffer::disable failed", false);
        return;
    }
    own = glstate::current();
    checkStateCache();
    caller.applyOver(own);
    if (callerLightsSaved) {
        ownLights->read();
        callerLights.apply();
        callerLightsSaved = false;
    }
    // Targets are left in the order they were entered; one left out of order still hands back
    // the framebuffer it found.
    glBindFramebuffer(GL_FRAMEBUFFER, previous ? previous->framebuffer : platform::frameFramebuffer());
    glViewport(callerViewport[0], callerViewport[1], callerViewport[2], callerViewport[3]);
    if (currentTarget == this) currentTarget = previous;
    watchDepthOf(currentTarget);
    previous = nullptr;
    enabled = false;
    checkGLError(__FILE__, __LINE__);
}

void PBuffer::bind(int buffer) {
    if (!initialized) {
        reportError(__FILE__, __LINE__, "PBuffer not initialised", false);
        return;
    }
    checkGLError(__FILE__, __LINE__);
    const bool depth = buffer == WGL_DEPTH_COMPONENT_NV;
    usedThisFrame = true;
    if (!storageHeld) {
        // Read before anything drew into it: it shows what a fresh target holds.
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        makeStorage();
        glBindFramebuffer(GL_FRAMEBUFFER, drawnInto());
    }
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
    if (textureCreated || !hasColour) return false;
    textureWrap = wrap;
    textureMinFilter = minFilter;
    textureMagFilter = magFilter;
    textureCreated = true;
    if (storageHeld) makeColourTexture(); // else when a frame first uses the target
    return true;
}

void PBuffer::makeColourTexture() {
    // The caller keeps its texture binding.
    GLint previousTexture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, textureWrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, textureWrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, textureMinFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, textureMagFilter);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
    // The driver refusing the storage (out of memory) would otherwise surface later as a GL error
    // far from its cause.
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        reportErrorText(__FILE__, __LINE__, "PBuffer: Could not create. ", glErrorName(error), true);
}

bool PBuffer::makeStorage() {
    // Called with this target's framebuffer bound and the caller's state current.
    storageHeld = true;
    if (textureCreated) makeColourTexture();
    if (!attachColour()) return false;
    clearFreshColour();
    return true;
}

void PBuffer::clearFreshColour() {
    // All of the colour to transparent black, whatever scissor, mask and clear colour are set.
    const glstate::State& now = glstate::current();
    const bool scissor = now.isOn(GL_SCISSOR_TEST);
    const GLboolean* mask = now.colourMask;
    const bool masked = !(mask[0] && mask[1] && mask[2] && mask[3]);
    const GLboolean kept[4] = {mask[0], mask[1], mask[2], mask[3]};
    const GLfloat colour[4] = {now.clearColour[0], now.clearColour[1], now.clearColour[2],
                               now.clearColour[3]};
    if (scissor) glDisable(GL_SCISSOR_TEST);
    if (masked) glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(colour[0], colour[1], colour[2], colour[3]);
    if (masked) glColorMask(kept[0], kept[1], kept[2], kept[3]);
    if (scissor) glEnable(GL_SCISSOR_TEST);
}

void PBuffer::giveBackStorage() {
    // Taken off the framebuffer first: an attached object outlives its deletion.
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    if (depthRenderbuffer) glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, drawnInto());
    if (texture) glDeleteTextures(1, &texture);
    if (depthRenderbuffer) glDeleteRenderbuffers(1, &depthRenderbuffer);
    texture = 0;
    attachedTexture = 0;
    depthRenderbuffer = 0;
    depthDeferred = remadeDepth;
    depthCleared = remadeDepth;
    clearedDepth = 1.0;
    storageHeld = false;
}

bool PBuffer::frameDone(int time) {
    if (remadeTargets.empty() || !platform::hasCurrentGLContext()) return false;
    bool gaveBack = false;
    for (PBuffer* target : remadeTargets) {
        if (target->usedThisFrame) {
            target->usedThisFrame = false;
            target->lastUsed = time;
            continue;
        }
        const long long idle = static_cast<long long>(time) - target->lastUsed;
        if (!target->storageHeld || target->enabled || (idle < kIdleMs && idle > -kIdleMs)) continue;
        target->giveBackStorage();
        gaveBack = true;
    }
    return gaveBack;
}

void PBuffer::releaseStorage() {
    // Without a context (process teardown) the objects went with it.
    const bool live = platform::hasCurrentGLContext();
    if (enabled && live) disable();
    if (currentTarget == this) {
        currentTarget = previous;
        watchDepthOf(currentTarget);
    }
    enabled = false;
    callerLightsSaved = false;
    if (!live) {
        framebuffer = depthRenderbuffer = depthTexture = texture = 0;
        textureCreated = false;
    }
    if (framebuffer) glDeleteFramebuffers(1, &framebuffer);
    if (depthRenderbuffer) glDeleteRenderbuffers(1, &depthRenderbuffer);
    if (depthTexture) glDeleteTextures(1, &depthTexture);
    framebuffer = 0;
    depthRenderbuffer = 0;
    depthTexture = 0;
    depthDeferred = false;
    depthCleared = false;
    attachedTexture = 0;
    hasColour = true;
    hasDepthTexture = false;
    if (textureCreated) {
        glDeleteTextures(1, &texture);
        texture = 0;
        textureCreated = false;
    }
    storageUsed -= storage;
    storage = 0;
    if (lifetime == TargetLifetime::RemadeEachFrame)
        remadeTargets.erase(std::remove(remadeTargets.begin(), remadeTargets.end(), this),
                            remadeTargets.end());
    lifetime = TargetLifetime::Kept;
    storageHeld = true;
    remadeDepth = false;
    usedThisFrame = false;
}

void PBuffer::destroy() {
    if (!initialized) return;
    releaseStorage();
    own = TargetState::defaults();
    ownLights.reset();
    initialized = false;
}
