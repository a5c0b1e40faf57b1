#include "script/ValueRanges.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

namespace check {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Meanings shared by many rows.
constexpr const char* kColour = "a colour channel; the GL takes more than 1 as 1 and less than 0 as 0";
constexpr const char* kOpacity = "an opacity; more than 1 is as opaque as 1, less than 0 invisible";
constexpr const char* kSwitch = "on above 0, else off";
constexpr const char* kUnused = "accepted, not used";
constexpr const char* kDatafile = "keys switch nothing: the file named last in __SETUP__ is the one shown";
constexpr const char* kPasses = "passes as a fraction: 0, 0.33, 0.67 and 1 run 1 to 4; more than 1 runs 4";

constexpr const char* kScenes =
    "Scene0 Scene1 Scene2 Scene3 Scene4 Scene5 Scene6 Scene7 Scene8 Scene9 Flower Hode Scratch";
constexpr const char* kShaders = "Shader1 Shader2 Shader3 Shader4";

bool hasWord(const char* words, const std::string& word) {
    std::istringstream in(words);
    std::string w;
    while (in >> w)
        if (w == word) return true;
    return false;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

} // namespace

bool ValueRange::free() const {
    return std::isinf(low) && std::isinf(high) && !whole;
}

const std::vector<ValueRange>& valueRanges() {
    static const std::vector<ValueRange> rows = {
        {"Clear", "Red Green Blue Alpha", 0, 1, false, kColour},
        {"Clear", "ClearColor ClearDepth ClearStencil", 0, 1, false, kSwitch},
        {"Fade", "Red Green Blue", 0, 1, false, kColour},
        {"Fade", "Alpha", -kInf, kInf, false, "accepted; the fade's phase is the opacity"},
        {"Flash", "Add", 0, 1, false, kSwitch},
        {"Flash", "Repeat", -kInf, kInf, false, kUnused},
        {"Image1 Image2 Image3", "Red Green Blue", 0, 1, false, kColour},
        {"Image1 Image2 Image3", "Alpha", 0, 1, false, kOpacity},
        {"Image1 Image2 Image3", "BlendMultipy BlendAdd", 0, 1, false, kSwitch},
        {"Image1 Image2 Image3", "Datafile", -kInf, kInf, false, kDatafile},
        {"RotoZoom", "Red Green Blue Alpha", 0, 1, false, kColour},
        {"RotoZoom", "RotSpeed", -kInf, kInf, false, "turning speed; negative turns the other way"},
        {"Mosaic", "Red Green Blue Alpha PreSaturation", -kInf, kInf, false, kUnused},
        {"Mosaic", "Saturation", 0, 1.5, false,
         "brightening of the cells, x2 up to x16 from 0.8; from 1.6 on x32 and more, white"},
        {"Mosaic", "ZoomCenter", 0, 1, false, kSwitch},
        {"Tiles", "Red Green Blue", 0, 1, false, kColour},
        {"Tiles", "Alpha", -kInf, kInf, false, "accepted; the tiles' fade is their opacity"},
        {"Tiles", "RotSpeed", -kInf, kInf, false, "turning speed; negative turns the other way"},
        {"Tiles", "FadeSpeed", 0, kInf, false, "how fast a breaking tile fades; below 0 it never fades"},
        {"Osc", "Red Green Blue Alpha", 0, 1, false, kColour},
        {"Osc", "xPos yPos Width Height", 0, 1, false,
         "a part of the screen's width or height; outside 0 to 1 the waveform leaves the screen"},
        {"Blur", "DoBlur DoMulSub DoGlow BlurOnlyX BlurOnlyY", 0, 1, false, kSwitch},
        {"Blur", "BlurAmount", 0, 1, false,
         "passes as a fraction: 0, 0.33, 0.67 and 1 run 1 to 4; more than 1 "
         "runs 4, less than 0 none, leaving the picture unblurred"},
        {"Blur", "Subtract", 0, 1, false, "the threshold, a grey level; the GL takes it as 0 to 1"},
        {"Blur", "Multiply", 0, 1, false,
         "the gain of each of four steps, 1 giving x16; the GL takes it as 0 to 1"},
        {"Blur", "BlurFactor", 0, 1, false,
         "brightness of a pass, 1 doubling the picture; more blows it out"},
        {"Blur", "GlowStrength", 0, 1, false, "weight of the glow; the GL takes more than 1 as 1"},
        {"DOF", "DoBlur DoGlow", 0, 1, false, kSwitch},
        {"DOF", "BlurAmount", 0, 1, false, kPasses},
        {"DOF", "BlurFactor", 0, 1, false, "brightness of a pass, 0.5 keeping it; more blows it out"},
        {"DOF", "GlowStrength", 0, 1, false, "weight of the sharp picture; the GL takes more than 1 as 1"},
        {"DOF", "Constant", 0, 100, false,
         "half-width of the sharp band in hundredths of the window's depth"},
        {"DOF", "Weight1", -kInf, kInf, false, "how hard the focus falls off, for the program"},
        {"DOF", "Weight2", 0, 1, false, "the focus as window depth, 0 the near plane and 1 the far one"},
        {"Noise", "Red Green Blue", 0, 1, false, kColour},
        {"Noise", "Alpha", 0, 1, false, kOpacity},
        {"Noise", "Animate", 0, 1, false, kSwitch},
        {"Splinzor", "Red Green Blue Alpha", 0, 1, false,
         "a colour channel's start (Alpha) and fall-off; the GL takes the colours as 0 to 1"},
        {"Splinzor", "Radius zInc", 0, 1, false,
         "the tube's radius (Radius x 20 - 11) and length (zInc x 24 a point); beyond 1 it leaves the view"},
        {"Splinzor", "magic1 magic2 magic3", -kInf, kInf, false, "jitter and bending; any value shows"},
        {"Spectrum", "MaxThresh SumThresh", -kInf, kInf, false, kUnused},
        {"GridExp GridExp2", "Red Green Blue", 0, 1, false, kColour},
        {"GridExp GridExp2", "Alpha", 0, 1, false, kOpacity},
        {"GridExp GridExp2", "Anim", 0, 4, true, "the formula; any other number leaves the grid flat"},
        {"GridExp GridExp2", "Rotate Blend Shade", 0, 1, false, kSwitch},
        {"GridExp GridExp2", "ampX ampY ampZ magicStrength magic1 magic2 magic3 magic4 magic5", -kInf, kInf,
         false, "coefficients of the formulas; any value shows"},
        {"Scratch", "ThisOrigin ThisAmp", -kInf, kInf, false, kUnused},
        {"Scratch", "ThatOrigin", 0, kInf, false, "centre of the scratch in 500 ms; below 0 it stays at 0"},
        {"Scratch", "ThatAmp", -kInf, kInf, false, "swing of the scratch in 500 ms"},
        {kScenes, "Loop Shadows", 0, 1, false, kSwitch},
        {kScenes, "Camera", 0, 1, false,
         "camera i of the scene's n as i / (n - 1); outside 0 to 1 none is named and the one looking stays"},
        {kScenes, "Datafile", -kInf, kInf, false, kDatafile},
        {kScenes, "FOV", 0, 1, false, "the field of view as a part of 180 degrees"},
        {kScenes,
         "Fog FogMode FogR FogG FogB FogDensity FogScale FogStart FogEnd LightingOn LightingOff MoreLight "
         "VShader",
         -kInf, kInf, false, kUnused},
        {kShaders, "BlendAdd BlendMultiply", 0, 1, false, kSwitch},
        {kShaders, "Alpha", 0, 1, false, kOpacity},
        {kShaders, "Datafile", -kInf, kInf, false, kDatafile},
        {kShaders, "Texture2 Texture3", -kInf, kInf, false, "a picture's name"},
        {kShaders, "Param1 Param2 Param3 Param4 Param5 Param6 Param7 Param8", -kInf, kInf, false,
         "handed to the program as it is"},
        {"", "Speed", -kInf, kInf, false, "the phase's speed (Speed x 0.2 per ms); negative runs backwards"},
        {"", "SpectrumStr", -kInf, kInf, false, "how strongly a Spectrum's level reaches the effect"},
        {"", "Pattern", -kInf, kInf, false, "a text of steps, each 0 or another character"},
    };
    return rows;
}

const ValueRange* valueRange(const std::string& effect, const std::string& variable) {
    for (const ValueRange& row : valueRanges())
        if ((!*row.effects || hasWord(row.effects, effect)) && hasWord(row.variables, variable)) return &row;
    return nullptr;
}

std::string describe(const ValueRange& range) {
    if (range.free()) return "any";
    const std::string kind = range.whole ? "the whole numbers " : "";
    if (std::isinf(range.high)) return kind + number(range.low) + " or more";
    return kind + number(range.low) + " to " + number(range.high);
}

std::string outOfRange(const ValueRange& range, const std::string& variable, double value) {
    const bool inside = value >= range.low && value <= range.high; // false for NaN
    const bool whole = !range.whole || std::trunc(value) == value;
    if (inside && whole) return std::string();
    std::string why = variable + " takes " + describe(range) + " (" + range.meaning + ")";
    if (inside) why += "; " + number(value) + " is read as " + number(std::trunc(value));
    return why;
}

} // namespace check
