#include "demo/EffectList.h"

#include "base/Report.h"
#include "demo/Effect.h"
#include "effects/EffectFactory.h"

#include <algorithm>

EffectList* effectList = nullptr;

namespace {
EffectList::Factory testFactory = nullptr;
}

// The original's names, then holdfast's own (Shader1 to Shader4).
const std::vector<std::string>& EffectList::scriptNames() {
    static const std::vector<std::string> names = {
        "Blur",    "Clear",    "GridExp",  "GridExp2", "Image1",  "Image2",  "Image3",  "RotoZoom", "Mosaic",
        "Osc",     "Fade",     "Flash",    "Invert",   "DOF",     "Flower",  "Noise",   "Scene0",   "Scene1",
        "Scene2",  "Scene3",   "Scene4",   "Scene5",   "Scene6",  "Scene7",  "Scene8",  "Scene9",   "Hode",
        "Scratch", "Spectrum", "Splinzor", "Tiles",    "Shader1", "Shader2", "Shader3", "Shader4"};
    return names;
}

void EffectList::setTestFactory(Factory factory) {
    testFactory = factory;
}

EffectList::~EffectList() = default;

bool EffectList::createEffect(const std::string& scriptName, const std::function<std::string()>& context) {
    Effect* effect = testFactory ? testFactory(scriptName.c_str()) : nullptr;
    if (!effect) {
        const auto& names = scriptNames();
        if (std::find(names.begin(), names.end(), scriptName) != names.end())
            effect = createBuiltInEffect(scriptName.c_str());
    }
    if (!effect) {
        const std::string detail = context ? scriptName + context() : scriptName;
        reportErrorText(__FILE__, __LINE__, "Effect Id not found", detail.c_str(), true);
        return false;
    }
    effect->activeTrack.addKey(0.0f, 0);
    list.push_back(effect);
    return true;
}

Effect* EffectList::findEffect(const std::string& effectName) const {
    for (Effect* effect : list)
        if (effect->name == effectName) return effect;
    return nullptr;
}

void EffectList::clearEffects() {
    for (Effect* effect : list)
        delete effect;
    list.clear();
}
