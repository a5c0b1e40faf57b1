#include "effects/DepthOfField.h"

#include "demo/EffectList.h"
#include "effects/Effect3D.h"
#include "effects/LinkedEffect.h"
#include "effects/StreakPasses.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "resources/ScreenQuad.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
void makeTarget(PBuffer& target, int size, TargetBuffers buffers) {
    // Every update clears and draws all four before the frame reads them: they need memory only
    // while the effect runs.
    initLinkedTarget(target, size, GL_LINEAR, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT, buffers,
                     TargetLifetime::RemadeEachFrame);
    checkAssert(target.isInitialized(), __FILE__, __LINE__);
}

// Drains every pending GL error and returns the first one.
GLenum takeGLError() {
    GLenum first = glGetError();
    if (first == GL_NO_ERROR) return first;
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
    }
    return first;
}

const ScreenRect kWhole{0, 0, 1, 1};

// The warm-up setting of a scene drawn through the focus program.
constexpr int kSceneSetting = 1;
} // namespace

DepthOfField::DepthOfField() : Effect("DOF") {
    registerVariable(doBlurVar, "DoBlur", NoList, KindBool);
    registerVariable(doGlowVar, "DoGlow", NoList, KindBool);
    blurAmount.count = 4;
    registerVariable(blurAmount, "BlurAmount", NoList, KindInt);
    registerVariable(blurFactor, "BlurFactor", NoList, KindFloat);
    registerVariable(glowStrength, "GlowStrength", NoList, KindFloat);
    registerVariable(constant, "Constant", NoList, KindFloat);
    registerVariable(weight1, "Weight1", NoList, KindFloat);
    registerVariable(weight2, "Weight2", NoList, KindFloat);
    // The linked scene is depth-tested in p0; the streak passes in the others never depth-test.
    makeTarget(p0, 1024, TargetBuffers::ColourAndDepth);
    makeTarget(p1, 512, TargetBuffers::ColourOnly);
    makeTarget(p2, 512, TargetBuffers::ColourOnly);
    makeTarget(p3, 512, TargetBuffers::ColourOnly);
}

bool DepthOfField::supported() {
    return GLEW_ARB_vertex_shader && GLEW_ARB_fragment_program;
}

void DepthOfField::loadProgram() {
    if (programState != ProgramState::NotTried || !supported()) return;
    programState = ProgramState::Failed;
    const long long size = DataFile::sizeOf(programFile);
    if (size > maxProgramBytes) {
        reportErrorText(
            __FILE__, __LINE__, "DOF: fragment program too long, showing the picture unblurred",
            report::format("%s: %lld bytes, more than %lld", programFile, size, maxProgramBytes).c_str(),
            false);
        return;
    }
    DataFile file(programFile);
    if (!file.isOpen()) {
        reportErrorText(__FILE__, __LINE__, "DOF: no fragment program, showing the picture unblurred",
                        programFile, false);
        return;
    }
    std::string text(reinterpret_cast<const char*>(file.getData()), file.getSize());
    file.close();

    takeGLError(); // whatever was pending is not ours to report
    if (program == 0) glGenProgramsARB(1, &program);
    glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, program);
    glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB,
                       static_cast<GLsizei>(text.size()), text.data());
    if (takeGLError() != GL_NO_ERROR) {
        GLint position = -1;
        glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
        const GLubyte* why = glGetString(GL_PROGRAM_ERROR_STRING_ARB);
        takeGLError();
        const std::string message = report::format("\nError loading shader:\n %s (at character %d of %s)",
                                                   why ? reinterpret_cast<const char*>(why) : "",
                                                   static_cast<int>(position), programFile);
        reportError(__FILE__, __LINE__, message.c_str(), false);
        return;
    }
    programState = ProgramState::Ready;
}

void DepthOfField::start(int time) {
    Effect::start(time);
    if (linked) linked->start(time);
    if (p0.isInitialized()) {
        p0.enable();
        if (linked) linked->start(time);
        loadProgram();
        p0.disable();
    }
}

void DepthOfField::loadProgramNow() {
    if (!p0.isInitialized()) return;
    p0.enable();
    loadProgram();
    p0.disable();
}

void DepthOfField::warmUp() {
    std::vector<Effect3D*> scenes;
    auto add = [&](Effect* effect) {
        auto* scene = dynamic_cast<Effect3D*>(effect);
        if (scene && std::find(scenes.begin(), scenes.end(), scene) == scenes.end()) scenes.push_back(scene);
    };
    add(linked);
    for (const std::string& name : queuedSignalTexts(2))
        add(effectList ? effectList->findEffect(name) : nullptr);
    // A missing or oversized program is reported when the effect starts, as without the warm-up.
    const long long size = DataFile::sizeOf(programFile);
    if (scenes.empty() || !supported() || !p0.isInitialized() || size <= 0 || size > maxProgramBytes) return;
    GLint bound = 0;
    glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &bound);
    loadProgramNow();
    if (programReady()) {
        glEnable(GL_FRAGMENT_PROGRAM_ARB);
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, program);
        for (Effect3D* scene : scenes)
            scene->warmUpScene(kSceneSetting);
        glDisable(GL_FRAGMENT_PROGRAM_ARB);
    }
    glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, static_cast<GLuint>(bound));
}

void DepthOfField::update(int time) {
    Effect::update(time);
    if (!linked || !supported()) return;
    doGlow = doGlowVar.valueAt(time);
    doBlur = doBlurVar.valueAt(time);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);

    if (p0.isInitialized()) {
        p0.enable();
        // A link made after the start still gets its program.
        loadProgram();
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        linked->update(time);
        checkGLError(__FILE__, __LINE__);
        const bool useProgram = programReady();
        if (useProgram) {
            glEnable(GL_FRAGMENT_PROGRAM_ARB);
            glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, program);
            checkGLError(__FILE__, __LINE__);
            glProgramEnvParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, 0, 0.0f, constant.valueAt(time) * 0.01f,
                                       (2.0f * weight1.valueAt(time) - 0.5f) * 2.0f,
                                       (weight2.valueAt(time) - 0.5f) * 2.0f);
            glProgramEnvParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, 1, 0.5f, 0.5f, 0.5f, 1.0f);
            checkGLError(__FILE__, __LINE__);
        }
        linked->render(time);
        checkGLError(__FILE__, __LINE__);
        if (useProgram) glDisable(GL_FRAGMENT_PROGRAM_ARB);
        p0.disable();
        drawnSharpOnly = !useProgram;
    }

    if (doBlur && !drawnSharpOnly) {
        const int n = blurAmount.valueAt(time);
        const float intensity = blurFactor.valueAt(time) * (2.0f * signalLevel + 1.0f) * 2.0f / 12.0f;
        StreakSource source;
        source.pbuffer = &p0;
        // The first pass always runs; BlurAmount adds up to three more.
        result = runStreakPasses(source, &p1, &p2, &p3, n > 0 ? n : 0, intensity, false, false);
    }
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
}

void DepthOfField::render(int time) {
    // Without a usable program there is no focus weight: the sharp picture alone.
    const bool sharpOnly = drawnSharpOnly && linked && supported();
    if (!result && !sharpOnly) return;
    PBuffer* base = sharpOnly || !doBlur ? &p0 : result;

    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    setOrthoYDown();
    glColor4f(1, 1, 1, 1);
    base->bind(WGL_FRONT_LEFT_ARB);
    drawQuadTexRect(kWhole, kWhole);
    base->release(WGL_FRONT_LEFT_ARB);

    if (doGlow && !sharpOnly) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        const float g = glowStrength.valueAt(time);
        glColor4f(g, g, g, g);
        glBlendEquation(GL_FUNC_ADD);
        p0.bind(WGL_FRONT_LEFT_ARB);
        drawQuadTexRect(kWhole, kWhole);
        p0.release(WGL_FRONT_LEFT_ARB);
        glDisable(GL_BLEND);
    }
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glColor4f(1, 1, 1, 1);
}
