#include "effects/EffectFactory.h"

#include "demo/Effect.h"

#include <cstring>

Effect* createBuiltInEffect(const char* scriptName) {
    // Add each effect here as it becomes available, e.g.
    //   if (std::strcmp(scriptName, "Clear") == 0) return new Clear();
    (void)scriptName;
    return nullptr;
}
