#include "effects/EffectFactory.h"

#include "demo/Effect.h"
#include "effects/Clear.h"
#include "effects/Fade.h"
#include "effects/Flash.h"
#include "effects/Invert.h"

#include <cstring>

Effect* createBuiltInEffect(const char* scriptName) {
    // Add each effect here as it becomes available.
    if (std::strcmp(scriptName, "Clear") == 0) return new Clear(0.0f, 0.0f, 0.0f, 1.0f);
    if (std::strcmp(scriptName, "Fade") == 0) return new Fade();
    if (std::strcmp(scriptName, "Flash") == 0) return new Flash();
    if (std::strcmp(scriptName, "Invert") == 0) return new Invert();
    return nullptr;
}
