#include "effects/EffectFactory.h"

#include "demo/Effect.h"
#include "effects/Blur.h"
#include "effects/Clear.h"
#include "effects/DepthOfField.h"
#include "effects/Effect3D.h"
#include "effects/Fade.h"
#include "effects/Flash.h"
#include "effects/Flower.h"
#include "effects/GridExp.h"
#include "effects/GridExp2.h"
#include "effects/HodeScene.h"
#include "effects/Image.h"
#include "effects/Invert.h"
#include "effects/Mosaic.h"
#include "effects/Noise.h"
#include "effects/Oscillo.h"
#include "effects/RotoZoom.h"
#include "effects/Scratch.h"
#include "effects/ShaderEffect.h"
#include "effects/Spectrum.h"
#include "effects/Splinzor.h"
#include "effects/Tiles.h"

#include <cstring>

namespace {
using Create = Effect* (*)(const char* scriptName);

struct FactoryEntry {
    const char* scriptName;
    Create create; // nullptr: the name is known but the effect is not built yet
};

// One line per script name, in the order names are looked up. The script name is passed on
// so that effects behind several names (Image1..3, Scene0..9) carry the name they were made for.
const FactoryEntry kFactory[] = {
    {"Blur", [](const char*) -> Effect* { return new Blur(); }},
    {"Clear", [](const char*) -> Effect* { return new Clear(0.0f, 0.0f, 0.0f, 1.0f); }},
    {"GridExp", [](const char*) -> Effect* { return new GridExp(); }},
    {"GridExp2", [](const char*) -> Effect* { return new GridExp2(); }},
    {"Image1", [](const char* name) -> Effect* { return new Image(name); }},
    {"Image2", [](const char* name) -> Effect* { return new Image(name); }},
    {"Image3", [](const char* name) -> Effect* { return new Image(name); }},
    {"RotoZoom", [](const char*) -> Effect* { return new RotoZoom(); }},
    {"Mosaic", [](const char*) -> Effect* { return new Mosaic(); }},
    {"Osc", [](const char*) -> Effect* { return new Oscillo(); }},
    {"Fade", [](const char*) -> Effect* { return new Fade(); }},
    {"Flash", [](const char*) -> Effect* { return new Flash(); }},
    {"Invert", [](const char*) -> Effect* { return new Invert(); }},
    {"DOF", [](const char*) -> Effect* { return new DepthOfField(); }},
    {"Flower", [](const char*) -> Effect* { return new Flower(); }},
    {"Noise", [](const char*) -> Effect* { return new Noise(); }},
    {"Scene0", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene1", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene2", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene3", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene4", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene5", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene6", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene7", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene8", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Scene9", [](const char* n) -> Effect* { return new Effect3D(n); }},
    {"Hode", [](const char*) -> Effect* { return new HodeScene(); }},
    {"Scratch", [](const char*) -> Effect* { return new Scratch(); }},
    {"Spectrum", [](const char*) -> Effect* { return new Spectrum(); }},
    {"Splinzor", [](const char*) -> Effect* { return new Splinzor(); }},
    {"Tiles", [](const char*) -> Effect* { return new Tiles(); }},
    {"Shader1", [](const char* n) -> Effect* { return new ShaderEffect(n); }},
    {"Shader2", [](const char* n) -> Effect* { return new ShaderEffect(n); }},
    {"Shader3", [](const char* n) -> Effect* { return new ShaderEffect(n); }},
    {"Shader4", [](const char* n) -> Effect* { return new ShaderEffect(n); }},
};
} // namespace

Effect* createBuiltInEffect(const char* scriptName) {
    for (const FactoryEntry& entry : kFactory) {
        if (std::strcmp(scriptName, entry.scriptName) == 0)
            return entry.create ? entry.create(scriptName) : nullptr;
    }
    return nullptr;
}
