// holdfast-scene: inspects binary scene files and makes them from model files.
//
//   holdfast-scene info [--archive FILE --password PW] [--frame N] SCENE
//   holdfast-scene import [--step UNITS] [--textures DIR] [--allow-outside] MODEL OUT.qzg
//
// info prints the scene as JSON: frame range, materials with the shade model their textures give
// and the name each texture is looked up under, every object in file order with its parent,
// children and rest transform (with --frame, also its animated transform at that frame), and per
// kind its mesh counts, light or camera fields. A file the player would refuse ends with exit
// code 1 and the reason on stderr.
//
// import reads a glTF 2.0, OBJ or FBX model (sceneimport/SceneImport.h) and writes the scene
// file, its textures where the player will look for them (or in DIR).
#include "archive/DataFile.h"
#include "common/Printable.h"
#include "engine/SceneFile.h"
#include "engine/SceneReader.h"
#include "scene/SceneJson.h"
#include "sceneimport/SceneImport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace scenefile;

namespace {

const char* usageLine =
    "usage: holdfast-scene info [--archive FILE --password PW] [--frame N] SCENE\n"
    "       holdfast-scene import [--step UNITS] [--textures DIR] [--allow-outside] MODEL "
    "OUT.qzg";

[[noreturn]] void usage() {
    std::fprintf(stderr, "%s\n", usageLine);
    std::exit(2);
}

void help() {
    std::printf("%s\n\n"
                "info reads a scene file as the player does and prints it as JSON.\n"
                "SCENE is a file path, or with --archive the member name inside the data archive.\n"
                "--frame N adds each animated object's position, rotation and scale at frame N.\n\n"
                "import converts a glTF 2.0 (.gltf/.glb), OBJ or FBX model into a scene file: meshes,\n"
                "hierarchy, node animation, cameras, up to 8 lights, materials. Textures are copied\n"
                "as PNG or JPEG into DIR; by default into the demo's data/textures/ when OUT lies in\n"
                "a demo's data/scenes/ (where the player looks for them), else into OUT's folder.\n"
                "The animation is sampled every UNITS scene time units (default 4: 25 frames a\n"
                "second at the effects' default Speed, where 100 units are one second). What cannot\n"
                "be carried over is warned about on stderr; a summary of what was written goes to\n"
                "stdout. Textures, buffers and material files are taken from the model's folder\n"
                "only, unless --allow-outside is given.\n\n"
                "Exit status: 0 done, 1 unreadable, malformed or unconvertible input, 2 usage error.\n",
                usageLine);
}

// A whole decimal number in [low, high], else a usage error.
int number(const char* text, int low, int high) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno || end == text || *end || value < low || value > high) usage();
    return static_cast<int>(value);
}

int import(int argc, char** argv) {
    sceneimport::ImportOptions options;
    std::vector<const char*> files;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--step") == 0 && i + 1 < argc)
            options.frameStep = number(argv[++i], 1, 100000);
        else if (std::strcmp(argv[i], "--textures") == 0 && i + 1 < argc)
            options.textureDir = argv[++i];
        else if (std::strcmp(argv[i], "--allow-outside") == 0)
            options.allowOutside = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            usage();
        else
            files.push_back(argv[i]);
    }
    if (files.size() != 2) usage();
    options.input = files[0];
    options.output = files[1];
    std::string error;
    const int status = sceneimport::importScene(options, error);
    if (status != 0) std::fprintf(stderr, "holdfast-scene: %s\n", tool::printable(error).c_str());
    return status;
}

} // namespace

int main(int argc, char** argv) {
    // A command-line tool: reports go to stderr instead of waiting on a message box.
    setenv("HOLDFAST_UNATTENDED", "1", 0);

    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        help();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("holdfast-scene %s\n", HOLDFAST_VERSION);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "import") == 0) return import(argc, argv);
    if (argc < 2 || std::strcmp(argv[1], "info") != 0) usage();
    const char* archive = nullptr;
    int32_t frame = -1;
    const char* password = nullptr;
    const char* scene = nullptr;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--archive") == 0 && i + 1 < argc)
            archive = argv[++i];
        else if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc)
            password = argv[++i];
        else if (std::strcmp(argv[i], "--frame") == 0 && i + 1 < argc)
            frame = number(argv[++i], 0, 1 << 30);
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            usage();
        else if (!scene)
            scene = argv[i];
        else
            usage();
    }
    if (!scene || (password && !archive)) usage();
    if (archive) setDataArchive(archive, password ? password : "");

    DataFile file(scene);
    if (!file.isOpen()) {
        std::fprintf(stderr, "holdfast-scene: cannot open %s\n", tool::printable(scene).c_str());
        return 1;
    }
    SceneFile parsed;
    ReadResult result = readScene(file.getData(), file.getSize(), parsed);
    if (!result) {
        std::fprintf(stderr, "holdfast-scene: %s: %s\n", tool::printable(scene).c_str(),
                     tool::printable(result.message).c_str());
        return 1;
    }
    const std::string json = sceneJson(scene, parsed, frame);
    std::fwrite(json.data(), 1, json.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
