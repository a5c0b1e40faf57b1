// Writes the seed corpora of the scene and morph-data fuzzers with the scene writer:
//   make_scene_seeds DIR   (creates DIR/scene_reader and DIR/morph_reader)
#include "../tests/engine/SampleScene.h"
#include "engine/SceneWriter.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_scene_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    using namespace scenefile;
    bool ok = true;
    SceneFile rich = sample::richScene();
    ok &= writeSceneFile(rich, dir + "/scene_reader/rich.qzg");
    ok &= writeSceneFile(SceneFile{}, dir + "/scene_reader/empty.qzg");
    // One scene per chunk kind, so mutations reach each record's fields early.
    for (size_t i = 0; i < rich.chunks.size(); ++i) {
        SceneFile one;
        one.lastFrame = 2;
        one.chunks.push_back(rich.chunks[i]);
        ok &= writeSceneFile(one, dir + "/scene_reader/chunk" + std::to_string(i) + ".qzg");
    }
    for (int frames : {0, 1, 3}) {
        MorphData m;
        m.frameCount = frames;
        m.vertexCount = 4;
        for (int i = 0; i < frames * 4 * 3; ++i) {
            m.positions.push_back(static_cast<float>(i));
            m.normals.push_back(1.0f / static_cast<float>(i + 1));
        }
        std::vector<uint8_t> bytes = {4, 0}; // the fuzzer's vertex count prefix
        ok &= writeMorphData(m, bytes);
        ok &= writeBytesToFile(bytes, dir + "/morph_reader/frames" + std::to_string(frames));
    }
    if (!ok) std::fprintf(stderr, "make_scene_seeds: could not write the seeds\n");
    return ok ? 0 : 1;
}
