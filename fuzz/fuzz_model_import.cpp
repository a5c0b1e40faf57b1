// Model import's front end on arbitrary text: the checks made before assimp reads a model, assimp's
// glTF, binary glTF and OBJ readers, and the conversion to a scene, which must then be one the
// scene writer takes or a refusal with a reason. The format follows the content: JSON is read as
// glTF, "glTF" as binary glTF, anything else as OBJ. No file is read or written.
#include "engine/SceneFile.h"
#include "sceneimport/SceneImport.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t first = 0;
    while (first < size &&
           (data[first] == ' ' || data[first] == '\n' || data[first] == '\r' || data[first] == '\t'))
        ++first;
    const char* name = size >= 4 && std::memcmp(data, "glTF", 4) == 0 ? "model.glb"
                       : first < size && data[first] == '{'           ? "model.gltf"
                                                                      : "model.obj";
    scenefile::SceneFile scene;
    sceneimport::convertModelBytes(data, size, name, scene);
    return 0;
}
