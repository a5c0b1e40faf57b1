// Writes the seed corpora of the scene and morph-data fuzzers with the scene writer:
//   make_scene_seeds DIR   (creates DIR/scene_reader, DIR/morph_reader and DIR/script_scene)
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
    // Script and scene together (fuzz_script_scene): a scene effect and Hode with its morph data,
    // selecting an object and switching hierarchical drawing, shadows and visibility.
    const std::string script =
        "DEFINE SELECT 6\nDEFINE HIER 16\nDEFINE SHADOWS 21\nDEFINE SHOW 20\n"
        "INSERT_EFFECT Scene0\nINSERT_EFFECT Hode\n__SETUP__\n"
        "0 SIGNAL Scene0 Datafile \"data/scenes/f.qzg\"\n"
        "0 SIGNAL Hode Datafile \"data/scenes/f.qzg\"\n__TIMELINE__\n"
        "0 BEGIN Scene0\n0 INIT Scene0\n0 TRIGGER Scene0 SELECT \"Root\"\n"
        "0 TRIGGER Scene0 HIER 1\n0 TRIGGER Scene0 SHADOWS 1\n0 TRIGGER Scene0 SHOW 1\n"
        "__SCENE__\n";
    std::vector<uint8_t> sceneBytes;
    ok &= writeScene(rich, sceneBytes);
    std::vector<uint8_t> withScene(script.begin(), script.end());
    withScene.insert(withScene.end(), sceneBytes.begin(), sceneBytes.end());
    ok &= writeBytesToFile(withScene, dir + "/script_scene/scene");
    MorphData box;
    box.frameCount = 2;
    box.vertexCount = 4;
    box.positions.assign(2 * 4 * 3, 0.5f);
    box.normals.assign(2 * 4 * 3, 1.0f);
    const std::string marker = "\n__MORPH__\n";
    withScene.insert(withScene.end(), marker.begin(), marker.end());
    ok &= writeMorphData(box, withScene);
    ok &= writeBytesToFile(withScene, dir + "/script_scene/scene_and_morph");
    if (!ok) std::fprintf(stderr, "make_scene_seeds: could not write the seeds\n");
    return ok ? 0 : 1;
}
