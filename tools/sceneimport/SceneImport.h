// Scene import for holdfast-scene: reads a model file through assimp (glTF 2.0, OBJ, FBX and the
// other formats assimp knows) and writes it as a scene file, with its textures beside it.
#pragma once

#include <string>

namespace sceneimport {

struct ImportOptions {
    std::string input;      // model file
    std::string output;     // scene file to write
    std::string textureDir; // where the textures go; empty: the output's directory
    // Scene time units per sampled frame. The scene effects run their clock at 100 units a second
    // with the default Speed, so 4 samples the animation 25 times a second.
    int frameStep = 4;
};

// Imports the model; warnings about what the scene format cannot carry go to stderr.
// Returns 0 on success; 1 with `error` set when the input cannot be read or converted, or the
// result could not be written.
int importScene(const ImportOptions& options, std::string& error);

} // namespace sceneimport
