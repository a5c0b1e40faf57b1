// Morph-data fuzzing: the first two bytes give the mesh's vertex count, the rest is the file.
// An accepted file must write back to exactly its own bytes.
#include "engine/SceneReader.h"
#include "engine/SceneWriter.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t vertexCount = data[0] | data[1] << 8;
    scenefile::MorphData morph;
    if (!scenefile::readMorphData(data + 2, size - 2, vertexCount, morph)) {
        if (!morph.positions.empty() || morph.frameCount != 0) abort();
        return 0;
    }
    std::vector<uint8_t> bytes;
    if (!scenefile::writeMorphData(morph, bytes)) abort();
    if (bytes.size() != size - 2 || !std::equal(bytes.begin(), bytes.end(), data + 2)) abort();
    return 0;
}
