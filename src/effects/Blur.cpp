#include "effects/Blur.h"

#include "effects/LinkedEffect.h"
#include "effects/StreakPasses.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "resources/ScreenQuad.h"
#include "resources/Texture.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr const char* kCopyTextureName = "atiblur";
constexpr int kCopySize = 512;
constexpr GLbitfield kAllBuffers = GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT;
constexpr ScreenRect kWhole{0.0f, 0.0f, 1.0f, 1.0f};

// Shared by all blurs: the mode, and what the last update drew the linked picture into (the glow
// of the next render reads it).
bool sharedCopyMode = false;
Texture* lastSourceTexture = nullptr;
PBuffer* lastSourcePBuffer = nullptr;
GLint savedViewport[4] = {0, 0, 0, 0};

bool depthTargetsAvailable() {
    return platform::glCaps().depthTextureTarget;
}

Texture* copyTexture() {
    const auto* entry = TextureManager::instance().find(kCopyTextureName);
    return entry ? entry->object : nullptr;
}

Texture* ensureCopyTexture() {
    if (Texture* texture = copyTexture()) return texture;
    return TextureManager::instance().createTexture(kCopyTextureName, kCopySize, kCopySize, GL_TEXTURE_2D,
                                                    GL_RGBA);
}

void setSource(Texture* texture, PBuffer* pbuffer) {
    lastSourceTexture = texture;
    lastSourcePBuffer = pbuffer;
}

// Binds the texture or the target's colour; returns the target to release afterwards.
PBuffer* bindSource(Texture* texture, PBuffer* pbuffer) {
    if (texture) {
        texture->bind();
        return nullptr;
    }
    if (pbuffer) pbuffer->bind(WGL_FRONT_LEFT_ARB);
    return pbuffer;
}

void releaseSource(PBuffer* pbuffer) {
    if (pbuffer) pbuffer->release(WGL_FRONT_LEFT_ARB);
}

void prepareTarget(PBuffer& target, int size, TargetBuffers buffers) {
    // The update clears or draws over each target before the frame reads it: they need memory
    // only while the effect runs.
    initLinkedTarget(target, size, GL_LINEAR, kAllBuffers, buffers, TargetLifetime::RemadeEachFrame);
}
} // namespace

Blur::Blur() : Effect("Blur") {
    registerVariable(doBlurVar, "DoBlur", NoList, KindBool);
    registerVariable(doMulSubVar, "DoMulSub", NoList, KindBool);
    registerVariable(doGlowVar, "DoGlow", NoList, KindBool);
    blurAmount.count = 4;
    registerVariable(blurAmount, "BlurAmount", NoList, KindInt);
    registerVariable(blurOnlyX, "BlurOnlyX", NoList, KindBool);
    registerVariable(blurOnlyY, "BlurOnlyY", NoList, KindBool);
    registerVariable(subtract, "Subtract", NoList, KindFloat);
    registerVariable(multiply, "Multiply", NoList, KindFloat);
    registerVariable(blurFactor, "BlurFactor", NoList, KindFloat);
    registerVariable(glowStrength, "GlowStrength", NoList, KindFloat);

    // The linked effect may depth-test in p0; the threshold and streak passes in the others never do.
    prepareTarget(p0, 1024, TargetBuffers::DepthWhenNeeded);
    prepareTarget(p1, 512, TargetBuffers::ColourOnly);
    prepareTarget(p2, 512, TargetBuffers::ColourOnly);
    prepareTarget(p3, 512, TargetBuffers::ColourOnly);

    sharedCopyMode = !depthTargetsAvailable();
    if (sharedCopyMode) ensureCopyTexture();
}

Blur::~Blur() {
    // The next glow must not read a target that goes with this effect.
    if (lastSourcePBuffer == &p0 || lastSourcePBuffer == &p3) setSource(nullptr, nullptr);
}

bool Blur::copyMode() {
    return sharedCopyMode;
}

void Blur::start(int time) {
    Effect::start(time);
    if (sharedCopyMode) {
        ensureCopyTexture();
    } else if (p0.isInitialized() && linked) {
        p0.enable();
        linked->start(time);
        p0.disable();
    }
    if (linked) linked->start(time);
    shakeAmplitude = 1.0f;
    shakeStart = static_cast<float>(time);
    shakeDirection[0] = shakeDirection[1] = shakeDirection[2] = 0.0f;
}

void Blur::signal(const Signal& s) {
    Effect::signal(s);
    switch (s.type) {
    case 10:
        shakeDirection[0] = s.values[0];
        shakeDirection[1] = s.values[1];
        shakeDuration = s.values[2];
        shakeStart = static_cast<float>(s.time);
        break;
    case 12:
        shakeAmplitude = s.values[0];
        shakeDuration = s.values[1];
        shakeStart = static_cast<float>(s.time);
        break;
    case 17:
        sharedCopyMode = s.value > 0 && !depthTargetsAvailable();
        break;
    default:
        break;
    }
}

void Blur::update(int time) {
    Effect::update(time);
    if (!linked) return;
    if (sharedCopyMode) ensureCopyTexture();

    doGlow = doGlowVar.valueAt(time) > 0;
    doBlur = doBlurVar.valueAt(time) > 0;
    doMulSub = doMulSubVar.valueAt(time) > 0;
    result = nullptr;
    glGetIntegerv(GL_VIEWPORT, savedViewport);

    // The linked picture.
    Texture* sourceTexture = nullptr;
    PBuffer* sourcePBuffer = nullptr;
    if (sharedCopyMode) {
        Texture* copy = copyTexture();
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glViewport(0, 0, kCopySize, kCopySize);
        glClearColor(0, 0, 0, 0);
        glClear(kAllBuffers);
        if (copy) copy->bind();
        linked->update(time);
        linked->render(time);
        glEnable(GL_TEXTURE_2D);
        if (copy) {
            copy->bind();
            glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, kCopySize, kCopySize);
        }
        glClear(kAllBuffers);
        sourceTexture = copy;
    } else {
        if (p0.isInitialized()) {
            p0.enable();
            glClearColor(0, 0, 0, 0);
            glClear(kAllBuffers);
            linked->update(time);
            linked->render(time);
            p0.disable();
        }
        sourcePBuffer = &p0;
    }
    setSource(sourceTexture, sourcePBuffer);

    // Threshold: keep what is brighter than Subtract, then raise it.
    if (doMulSub && p3.isInitialized()) {
        p3.enable();
        glDisable(GL_CULL_FACE);
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        setOrthoYDown();
        glEnable(GL_TEXTURE_2D);
        PBuffer* bound = bindSource(sourceTexture, sourcePBuffer);
        drawQuadTexRect(kWhole, kWhole);
        releaseSource(bound);

        const float s = subtract.valueAt(time);
        glColor4f(s, s, s, s);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glBlendEquation(GL_FUNC_REVERSE_SUBTRACT);
        // Untextured: the subtracted amount is the colour alone.
        glDisable(GL_TEXTURE_2D);
        drawQuadTexRect(kWhole, kWhole);
        glBlendEquation(GL_FUNC_ADD);

        const float m = multiply.valueAt(time);
        if (m > 0) {
            glBlendFunc(GL_DST_COLOR, GL_ONE); // each quad multiplies by 1 + m
            glColor4f(m, m, m, m);
            for (int k = 0; k < 4; ++k)
                drawQuadTexRect(kWhole, kWhole);
        }
        glBlendEquation(GL_FUNC_ADD);
        glDisable(GL_BLEND);
        glColor4f(1, 1, 1, 1);
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
        glEnable(GL_CULL_FACE);
        p3.disable();
        sourceTexture = nullptr;
        sourcePBuffer = &p3;
        result = &p3;
    }

    if (doBlur) {
        const int lastPass = static_cast<int>(blurAmount.valueAt(time));
        const float amount = blurFactor.valueAt(time) * (2.0f * signalLevel + 1.0f) * 2.0f;
        onlyX = blurOnlyX.valueAt(time) > 0;
        onlyY = blurOnlyY.valueAt(time) > 0;
        // A pass is 6 copies one way and 6 the other; one way only, 6 carry the whole weight.
        const float intensity = amount / ((onlyX || onlyY) ? 6.0f : 12.0f);
        StreakSource source;
        source.texture = sourceTexture;
        source.pbuffer = sourcePBuffer;
        if (PBuffer* blurred = runStreakPasses(source, &p1, &p2, &p3, lastPass, intensity, onlyX, onlyY))
            result = blurred;
    }

    glViewport(savedViewport[0], savedViewport[1], savedViewport[2], savedViewport[3]);
}

float Blur::shakeFactor(int time) const {
    // The elapsed time never counts backwards and the duration only by its size: before the
    // shake's start, or with a negative duration, the offset would otherwise grow without bound.
    const double elapsed = std::max(0.0, static_cast<double>(time) - static_cast<double>(shakeStart));
    const double duration = std::fabs(static_cast<double>(shakeDuration));
    return static_cast<float>(shakeAmplitude / std::exp(elapsed * speedFactor / duration + 1.0));
}

void Blur::render(int time) {
    if (!linked) return;
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    setOrthoYDown();
    glColor4f(1, 1, 1, 1);

    if (std::fabs(shakeDuration) < 1.0f) shakeDuration = 1.0f;
    const float d = shakeFactor(time);
    glTranslatef(0.5f, 0.5f, 0.0f);
    glTranslatef(shakeDirection[0] * d, shakeDirection[1] * d, shakeDirection[2] * d);
    glTranslatef(-0.5f, -0.5f, 0.0f);

    if (doGlow) {
        PBuffer* bound = bindSource(lastSourceTexture, lastSourcePBuffer);
        drawQuadTexRect(kWhole, kWhole);
        releaseSource(bound);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        const float g = glowStrength.valueAt(time);
        glColor4f(g, g, g, g);
    }

    if ((doBlur || doMulSub) && result) {
        result->bind(WGL_FRONT_LEFT_ARB);
        drawQuadTexRect(kWhole, kWhole);
        result->release(WGL_FRONT_LEFT_ARB);
    } else if (Texture* copy = sharedCopyMode ? copyTexture() : nullptr) {
        // The unprocessed picture: the copy holds this frame's only in copy mode.
        copy->bind();
        drawQuadTexRect(kWhole, kWhole);
    } else {
        p0.bind(WGL_FRONT_LEFT_ARB);
        drawQuadTexRect(kWhole, kWhole);
        p0.release(WGL_FRONT_LEFT_ARB);
    }

    if (doGlow) glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glColor4f(1, 1, 1, 1);
}
