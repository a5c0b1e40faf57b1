// Scene-file fuzzing: the reader on arbitrary bytes, and for every accepted file the writer's
// bytes must read back to the same bytes (compared as bytes, so NaN fields count as equal).
#include "engine/SceneReader.h"
#include "engine/SceneWriter.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scenefile::SceneFile scene;
    scenefile::ReadResult result = scenefile::readScene(data, size, scene);
    if (!result) {
        if (!scene.chunks.empty()) abort(); // a refused file hands nothing out
        return 0;
    }
    if (!scenefile::checkScene(scene).empty()) abort();
    std::vector<uint8_t> first;
    // The reader accepts more lights than the writer writes; everything else must write.
    if (!scenefile::writeScene(scene, first)) {
        size_t lights = 0;
        for (const auto& chunk : scene.chunks)
            lights += std::holds_alternative<scenefile::Light>(chunk);
        if (lights <= scenefile::MaxLights) abort();
        return 0;
    }
    scenefile::SceneFile again;
    if (!scenefile::readScene(first.data(), first.size(), again)) abort();
    std::vector<uint8_t> second;
    if (!scenefile::writeScene(again, second) || second != first) abort();
    return 0;
}
