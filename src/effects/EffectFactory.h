// Builds the effect for one of the script names of the effect list's table.
#pragma once

class Effect;

// A new effect named `scriptName`, or nullptr when that effect is not available.
Effect* createBuiltInEffect(const char* scriptName);
