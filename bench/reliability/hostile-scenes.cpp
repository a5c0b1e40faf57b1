// Writes the hostile scene files bench/reliability.sh tries the readers with, byte by byte
// (the writer itself refuses most of them):
//   hostile-scenes nested N OUT     N dummies, each the child of the one before
//   hostile-scenes bare N OUT       N bare objects
//   hostile-scenes slots N OUT      one material with N texture slots
//   hostile-scenes lights N OUT     N omni lights
//   hostile-scenes deep N OUT       N nested dummies with a lit red quad at the bottom, a camera
//   hostile-scenes outside 0 OUT    a textured quad whose texture name leads out with "../"
//   hostile-scenes chunk ID OUT     a sound scene with an unknown chunk ID before its end
//   hostile-scenes version V OUT    a sound scene stamped with version V
// Every scene but the first three also holds the quad "Box01", a camera and a light, so that a
// scene effect (and Hode) can draw it.
#include "engine/SceneFile.h"
#include "engine/SceneWriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace scenefile;

namespace {

std::vector<uint8_t> out;

void header(int32_t version = 1) {
    out = {'Q', 'Z', 'G'};
    for (int32_t v : {version, 0, 0, 1})
        appendInt32(out, v);
}

void objectHeader(const std::string& name, int32_t id, int32_t parent, int32_t material, float x, float y,
                  float z) {
    appendString(out, name);
    appendInt32(out, id);
    appendInt32(out, parent);
    appendInt32(out, material);
    for (float f : {x, y, z, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f})
        appendFloat(out, f);
    for (int i = 0; i < 3; ++i)
        appendInt32(out, 0); // no key tracks
}

void material(int32_t id, const std::string& texture, int32_t slots) {
    appendInt32(out, MaterialListChunk);
    appendInt32(out, 1);
    appendInt32(out, 0);
    appendInt32(out, id);
    appendString(out, "red");
    appendFloat(out, 0);
    for (float f : {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f})
        appendFloat(out, f);
    appendInt32(out, slots);
    for (int32_t i = 0; i < slots; ++i) {
        appendString(out, texture);
        appendInt32(out, DiffuseMap);
    }
}

void light(int32_t id, float x, float y, float z) {
    appendInt32(out, LightChunk);
    objectHeader("Lamp" + std::to_string(id), id, -1, 0, x, y, z);
    appendInt32(out, OmniLight);
    for (float f : {1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 180.0f, 0.0f})
        appendFloat(out, f);
    appendInt32(out, -1);
    appendInt32(out, 0);
}

void quad(int32_t id, int32_t parent, int32_t materialId, float x) {
    appendInt32(out, MeshChunk);
    objectHeader("Box01", id, parent, materialId, x, 0, 0);
    const float v[4][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    appendInt32(out, 4);
    for (auto& p : v)
        for (float f : p)
            appendFloat(out, f);
    appendInt32(out, 4);
    for (int i = 0; i < 4; ++i)
        for (float f : {0.0f, 0.0f, 1.0f})
            appendFloat(out, f);
    appendInt32(out, 4);
    for (float f : {0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f})
        appendFloat(out, f);
    appendInt32(out, 0);
    appendInt32(out, 0);
    appendInt32(out, 0);
    appendInt32(out, 2);
    for (int32_t i : {0, 1, 2, 0, 2, 3})
        appendInt32(out, i);
}

void stage() {
    appendInt32(out, CameraChunk);
    objectHeader("Cam", 900000, -1, 0, 0, 0, 5);
    for (float f : {1.2f, 1.0f, 200.0f, 0.0f})
        appendFloat(out, f);
    appendInt32(out, -1);
    light(900001, 0, 0, 10);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: hostile-scenes KIND N OUT (see the source's head)\n");
        return 2;
    }
    const std::string kind = argv[1];
    const int32_t n = static_cast<int32_t>(std::strtol(argv[2], nullptr, 10));
    header(kind == "version" ? n : 1);
    if (kind == "nested") {
        for (int32_t i = 0; i < n; ++i) {
            appendInt32(out, DummyChunk);
            objectHeader("D" + std::to_string(i), i, i ? i - 1 : -1, 0, 0, 0, 0);
        }
    } else if (kind == "bare") {
        for (int32_t i = 0; i < n; ++i) {
            appendInt32(out, BareObjectChunk);
            appendInt32(out, i);
            appendString(out, "B" + std::to_string(i));
            appendInt32(out, 0);
        }
    } else if (kind == "slots") {
        material(1, "t.png", n);
    } else if (kind == "lights") {
        material(1, "", 0);
        quad(1, -1, 1, 0);
        stage();
        for (int32_t i = 1; i < n; ++i)
            light(100 + i, static_cast<float>(i), 0, 10);
    } else if (kind == "deep") {
        // Each level moves 0.05 right; the quad moves back by the sum, so drawn hierarchically
        // it sits in the middle of the picture.
        material(1, "", 0);
        for (int32_t i = 0; i < n; ++i) {
            appendInt32(out, DummyChunk);
            objectHeader("Level" + std::to_string(i), 1000 + i, i ? 999 + i : -1, 0, 0.05f, 0, 0);
        }
        quad(1, n ? 999 + n : -1, 1, -0.05f * static_cast<float>(n));
        stage();
    } else if (kind == "outside" || kind == "chunk" || kind == "version") {
        material(1, kind == "outside" ? "C:\\maps\\../../secret.png" : "", kind == "outside" ? 1 : 0);
        quad(1, -1, 1, 0);
        stage();
        if (kind == "chunk") appendInt32(out, n);
    } else {
        std::fprintf(stderr, "hostile-scenes: unknown kind %s\n", kind.c_str());
        return 2;
    }
    appendInt32(out, EndMarker);
    std::string error;
    if (!writeBytesToFile(out, argv[3], &error)) {
        std::fprintf(stderr, "hostile-scenes: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
