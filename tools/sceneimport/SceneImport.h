// Scene import for holdfast-scene: reads a model file through assimp (glTF 2.0, OBJ, FBX and the
// other formats assimp knows) and writes it as a scene file, with its textures where the player
// will look for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace scenefile {
struct SceneFile;
}

namespace sceneimport {

struct ImportOptions {
    std::string input;  // model file
    std::string output; // scene file to write
    // Where the textures go; empty: the demo's data/textures/ when the output lies in a demo's
    // data/scenes/, else the output's folder (texturePlace in ImportFiles.h).
    std::string textureDir;
    // Scene time units per sampled frame. The scene effects run their clock at 100 units a second
    // with the default Speed, so 4 samples the animation 25 times a second.
    int frameStep = 4;
    // Files the model names (textures, buffers, material files) that lie outside its folder
    // ("../", absolute paths, symbolic links leading out) are read only when this is set.
    bool allowOutside = false;
};

// Imports the model; warnings about what the scene format cannot carry go to stderr, and on
// success a one-line summary (meshes, triangles, materials, textures, cameras, lights, frames,
// warnings) to stdout. Returns 0 on success; 1 with `error` set when the input cannot be read or
// converted, or the result could not be written, in which case neither the scene nor any of its
// textures is left behind. The model is read in a child process.
int importScene(const ImportOptions& options, std::string& error);

// The front end alone, in this process, for a model held in memory (`name` gives the format by
// its ending): the checks, the reader and the conversion; textures are named, not copied, and
// nothing is written. Returns "" or the reason the model is refused.
std::string convertModelBytes(const uint8_t* data, size_t size, const std::string& name,
                              scenefile::SceneFile& out);

} // namespace sceneimport
