// A script and the scene it names, together: the script loader's setup section hands the file to
// the scene effects (Scene0..Scene9, Hode, Flower), whose loader reads, builds and binds it (and
// Hode's morph data); then every effect is started, updated and drawn at a few times, so deep
// hierarchies, limits and odd signals reach the drawing walk too. Needs a GL context: run under
// an X display (fuzz/run.sh starts xvfb-run when there is none).
//
// Input: script text, a line "__SCENE__", the bytes of data/scenes/f.qzg, and optionally a line
// "__MORPH__" followed by the bytes of data/scenes/morphdata_Box01.pmd. Other effect names are
// stand-ins without GL; a fatal report ends one input, not the fuzzer.
#include "base/Report.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "effects/EffectFactory.h"
#include "engine/SceneLoaderQZG.h"
#include "platform/GL.h"
#include "platform/Platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct FatalReport {};

class StandIn : public Effect {
  public:
    explicit StandIn(const char* scriptName) : Effect(scriptName) {
        registerVariable(amount, "Amount", NoList, KindFloat);
    }
    void render(int) override {}
    FloatVariable amount;
};

bool sceneEffect(const char* name) {
    return (std::strncmp(name, "Scene", 5) == 0 && name[5] >= '0' && name[5] <= '9' && !name[6]) ||
           std::strcmp(name, "Hode") == 0 || std::strcmp(name, "Flower") == 0;
}

Effect* factory(const char* scriptName) {
    if (sceneEffect(scriptName)) return createBuiltInEffect(scriptName);
    return new StandIn(scriptName);
}

void throwOnFatal(const report::Record& record) {
    if (record.fatal) throw FatalReport{};
}

void writeWhole(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

const bool initialized = [] {
    setenv("HOLDFAST_UNATTENDED", "1", 1);
    if (!platform::createHiddenGLContext(64, 64)) {
        std::fprintf(stderr, "fuzz_script_scene: no GL context (run under an X display)\n");
        std::exit(1);
    }
    char dir[] = "/tmp/holdfast-fuzz-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
    mkdir("data", 0700);
    mkdir("data/scenes", 0700);
    mkdir("data/textures", 0700);
    EffectList::setTestFactory(factory);
    report::setSink(throwOnFatal);
    effectList = new EffectList();
    signalQueue = new SignalQueue();
    return true;
}();

// Splits at the first line that is exactly `marker`; `rest` gets what follows it.
bool splitAt(const std::string& all, const char* marker, std::string& before, std::string& rest) {
    const std::string line = std::string("\n") + marker + "\n";
    const size_t at = all.find(line);
    if (at == std::string::npos) return false;
    before = all.substr(0, at + 1);
    rest = all.substr(at + line.size());
    return true;
}

} // namespace

// A fatal report thrown out of a half-built scene abandons what it had built, and the system's GL
// and D-Bus libraries keep allocations until exit: neither is a finding here.
extern "C" int __lsan_is_turned_off() {
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)initialized;
    const std::string all(reinterpret_cast<const char*>(data), size);
    std::string script, scene, morph;
    if (!splitAt(all, "__SCENE__", script, scene)) return 0;
    std::string sceneOnly;
    if (splitAt(scene, "__MORPH__", sceneOnly, morph)) {
        scene = sceneOnly.substr(0, sceneOnly.size() - 1); // the newline before the marker
        writeWhole("data/scenes/morphdata_Box01.pmd", reinterpret_cast<const uint8_t*>(morph.data()),
                   morph.size());
    } else {
        unlink("data/scenes/morphdata_Box01.pmd");
    }
    writeWhole("data/scenes/f.qzg", reinterpret_cast<const uint8_t*>(scene.data()), scene.size());

    // Every input starts without effects, without cached scenes and with empty matrix stacks (a
    // fatal report thrown mid-frame leaves pushed matrices behind).
    for (GLenum mode : {GL_MODELVIEW, GL_PROJECTION, GL_TEXTURE}) {
        glMatrixMode(mode);
        GLint depth = 1;
        glGetIntegerv(mode == GL_MODELVIEW    ? GL_MODELVIEW_STACK_DEPTH
                      : mode == GL_PROJECTION ? GL_PROJECTION_STACK_DEPTH
                                              : GL_TEXTURE_STACK_DEPTH,
                      &depth);
        for (; depth > 1; --depth)
            glPopMatrix();
        glLoadIdentity();
    }
    glMatrixMode(GL_MODELVIEW);
    while (glGetError() != GL_NO_ERROR) {
    }
    // Every input starts without effects and without cached scenes.
    effectList->clearEffects();
    SceneCache::Scenes old = SceneCache::instance().takeAll();
    SceneCache::destroy(old);
    try {
        scriptLoader.loadText(script);
        for (Effect* effect : effectList->effects()) {
            effect->start(0);
            for (int t : {0, 250, 5000}) {
                effect->update(t);
                effect->render(t);
            }
        }
    } catch (const FatalReport&) {
        return 0;
    }
    return 0;
}
