#include "sceneimport/SceneImport.h"

#include "sceneimport/Formats.h"
#include "sceneimport/ImportFiles.h"
#include "sceneimport/ModelCheck.h"
#include "sceneimport/ReaderFiles.h"
#include "sceneimport/SceneBuilder.h"
#include "sceneimport/TextureCopier.h"

#include "engine/SceneFile.h"
#include "engine/SceneWriter.h"
#include "platform/ReplacingFile.h"
#include "resources/ImageLibrary.h"
#include "resources/PngWriter.h"

#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace sceneimport {

using namespace scenefile;

namespace {

constexpr unsigned kReadFlags = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                aiProcess_GenSmoothNormals | aiProcess_SortByPType |
                                aiProcess_ValidateDataStructure;

Assimp::Importer& prepare(Assimp::Importer& importer, ConfinedIO* io) {
    importer.SetIOHandler(io); // the importer owns it
    configureReader(importer);
    return importer;
}

// Why assimp gave no scene. A model of only cameras and lights comes flagged incomplete (it has
// no meshes): the object count decides instead, so only a missing root node counts here.
std::string readFailure(Assimp::Importer& importer, const ConfinedIO& io, const std::string& name) {
    if (!io.outside.empty()) return io.outside + ": not read (--allow-outside reads it)";
    if (!io.notRegular.empty()) return io.notRegular;
    const std::string reason = importer.GetErrorString();
    // The checks before reading passed, so the reader found something else it could not take.
    if (reason.rfind("No suitable reader found", 0) == 0)
        return modelFormat(name) == ModelFormat::Gltf ? "assimp's glTF reader cannot read it (" + reason + ")"
                                                      : "no reader for this kind of file (" + reason + ")";
    return reason.empty() ? "incomplete scene" : reason;
}

std::string count(size_t n, const std::string& one, const std::string& many = "") {
    return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

// The whole import in this process: read, convert, then write the scene and give the textures
// their names, or leave nothing behind.
int importHere(const ImportOptions& options, const ModelFacts& facts, std::string& error) {
    Assimp::Importer importer;
    auto* io = new ConfinedIO(options.input, options.allowOutside, facts.objectsAsGroups);
    const aiScene* scene = prepare(importer, io).ReadFile(options.input, kReadFlags);
    // A file the model names outside its folder fails the import even where the reader went on
    // without it (an OBJ's material file).
    if (!scene || !scene->mRootNode || !io->outside.empty()) {
        error = "cannot import " + options.input + ": " + readFailure(importer, *io, options.input);
        return 1;
    }
    // A file the model names that is not a regular file was left out; say so.
    if (!io->notRegular.empty()) warn("%s: not read", io->notRegular.c_str());
    FileId outputId;
    if (fileId(options.output, outputId) && io->opened.count(outputId)) {
        error = "will not write " + options.output + ": it is one of the model's own files";
        return 1;
    }

    const TexturePlace place = texturePlace(options.output, options.textureDir);
    const std::string& textureDir = place.folder;
    TextureCopier textures(scene, directoryOf(options.input), textureDir, plainName(stemOf(options.output)),
                           options.allowOutside, io->opened);
    SceneBuilder builder(scene, modelFormat(options.input), textures);
    SceneFile out;
    error = builder.build(options, out);
    if (!error.empty()) {
        error = options.input + ": " + error;
        return 1;
    }
    if (!textures.error().empty()) {
        error = textures.error();
        return 1;
    }
    std::vector<uint8_t> bytes;
    if (!writeScene(out, bytes, &error)) {
        error = "cannot write " + options.output + ": " + error;
        return 1;
    }
    // The scene goes under a temporary name first: a write that fails half-way leaves neither
    // the scene nor its textures.
    const std::string temporary = directoryOf(options.output) + "/." + baseName(options.output) + "." +
                                  std::to_string(::getpid()) + ".part";
    if (!writeBytesToFile(bytes, temporary, &error)) {
        error = "cannot write " + options.output + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return 1;
    }
    if (!textures.commit(error)) {
        std::remove(temporary.c_str());
        return 1;
    }
    if (holdsOtherThanFile(options.output) || std::rename(temporary.c_str(), options.output.c_str()) != 0) {
        error = "cannot write " + options.output + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return 1;
    }
    if (textures.count() > 0 && !place.playerFolder.empty() && !place.playerLooksThere)
        warn("the player looks for this scene's textures in %s, not in %s: it will draw the model "
             "without them (leave out --textures)",
             place.playerFolder.c_str(), textureDir.c_str());
    const int frames = (out.lastFrame - out.firstFrame) / std::max(1, out.frameStep) + 1;
    std::printf("holdfast-scene: %s: %s, %s, %s, %s, %s, %s, %s, %s\n", options.output.c_str(),
                count(builder.meshes(), "mesh", "meshes").c_str(),
                count(builder.triangles(), "triangle").c_str(),
                count(builder.materials(), "material").c_str(), count(textures.count(), "texture").c_str(),
                count(builder.cameras(), "camera").c_str(), count(builder.lights(), "light").c_str(),
                count(static_cast<size_t>(frames), "frame").c_str(),
                count(static_cast<size_t>(warningCount()), "warning").c_str());
    if (textures.count() > 0)
        std::printf("holdfast-scene: %s written to %s\n", count(textures.count(), "texture").c_str(),
                    textureDir.c_str());
    return 0;
}

} // namespace

int importScene(const ImportOptions& options, std::string& error) {
    struct stat st;
    if (::stat(options.input.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot open " + options.input +
                (::stat(options.input.c_str(), &st) == 0 ? ": not a regular file" : "");
        return 1;
    }
    if (holdsOtherThanFile(options.output)) {
        error = "will not write " + options.output + ": it exists and is not a regular file";
        return 1;
    }
    FileId in, out;
    if (fileId(options.input, in) && fileId(options.output, out) && !(in < out) && !(out < in)) {
        error = "will not write " + options.output + ": it is the model itself";
        return 1;
    }
    ModelFacts facts;
    if (const std::string problem = checkModelFile(options.input, facts); !problem.empty()) {
        error = "cannot import " + options.input + ": " + problem;
        return 1;
    }

    // assimp's readers recurse as deep as a file nests and trust what it declares: they run in
    // a child process, so that whatever they do to their stack ends in a report here.
    std::fflush(nullptr);
    int fds[2];
    if (::pipe(fds) != 0) return importHere(options, facts, error);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return importHere(options, facts, error);
    }
    if (pid == 0) {
        ::close(fds[0]);
        std::string message;
        const int status = importHere(options, facts, message);
        for (size_t done = 0; done < message.size();) {
            const ssize_t n = ::write(fds[1], message.data() + done, message.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        std::fflush(nullptr);
        ::_exit(status);
    }
    ::close(fds[1]);
    std::string message;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        message.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        error = "cannot import " + options.input + ": the model reader crashed (" +
                strsignal(WTERMSIG(status)) + "): the file is damaged or nested too deeply";
        return 1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
    error = message.empty() ? "cannot import " + options.input + ": the model reader stopped without a reason"
                            : message;
    return 1;
}

std::string convertModelBytes(const uint8_t* data, size_t size, const std::string& name, SceneFile& out) {
    setQuiet(true);
    ModelFacts facts;
    if (std::string problem = checkModelBytes(name, data, size, facts); !problem.empty()) return problem;
    std::vector<uint8_t> rewritten;
    if (facts.objectsAsGroups) {
        rewritten.assign(data, data + size);
        bool lineStart = true;
        readObjectsAsGroups(reinterpret_cast<char*>(rewritten.data()), size, lineStart);
        data = rewritten.data();
    }
    Assimp::Importer importer;
    auto* io = new ConfinedIO;
    const size_t dot = name.find_last_of('.');
    const std::string hint = dot == std::string::npos ? "" : name.substr(dot + 1);
    const aiScene* scene = prepare(importer, io).ReadFileFromMemory(data, size, kReadFlags, hint.c_str());
    if (!scene || !scene->mRootNode) return readFailure(importer, *io, name);
    TextureCopier textures(scene, ".", ".", "model", false, {}, false);
    SceneBuilder builder(scene, modelFormat(name), textures);
    std::string error = builder.build(ImportOptions{}, out);
    std::vector<uint8_t> bytes;
    if (error.empty()) writeScene(out, bytes, &error);
    return error;
}

} // namespace sceneimport
