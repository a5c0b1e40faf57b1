#include "engine/MorphDataLoader.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "engine/MeshObject.h"
#include "engine/SceneFile.h"
#include "engine/SceneReader.h"

#include <memory>

MorphLoad loadMorphData(MeshObject& mesh, bool brokenIsFatal) {
    const std::string path = scenefile::morphDataPath(mesh.name());
    auto broken = [&](const std::string& why) {
        // A file that does not fit the mesh would have the morph read past its frames.
        reportErrorText(__FILE__, __LINE__, "Morph data is broken", (path + ": " + why).c_str(),
                        brokenIsFatal);
        return MorphLoad::Broken;
    };
    const std::string outside = scenefile::storedPathProblem(path);
    if (!outside.empty()) return broken("the mesh name makes " + outside);

    // The whole file is loaded before it is parsed: its size is judged first. A file whose size
    // can't be found is left to the open, which says what is missing (the archive's box).
    const long long size = DataFile::sizeOf(path.c_str());
    const unsigned long long frameBytes = static_cast<unsigned long long>(mesh.vertices().size()) * 6 * 4;
    if (size >= 0 && static_cast<unsigned long long>(size) > 4 + scenefile::MaxMorphBytes)
        return broken(std::to_string(size) + " bytes, more than the " +
                      std::to_string(scenefile::MaxMorphBytes) + " bytes of frames a mesh may have");
    if (size >= 4 && frameBytes && (static_cast<unsigned long long>(size) - 4) % frameBytes != 0)
        return broken(std::to_string(size) + " bytes are not whole frames of the mesh's " +
                      std::to_string(mesh.vertices().size()) + " vertices");

    std::unique_ptr<DataFile> file(DataFile::open(path.c_str()));
    if (!file) return MorphLoad::Missing;
    scenefile::MorphData morph;
    scenefile::ReadResult result = scenefile::readMorphData(
        file->getData(), file->getSize(), static_cast<int32_t>(mesh.vertices().size()), morph);
    file.reset();
    if (!result) return broken(result.message);
    // No frames: nothing to morph, and the mesh stays on its buffer objects.
    if (morph.frameCount == 0) return MorphLoad::NoFrames;
    mesh.setMorphData(morph.frameCount, std::move(morph.positions), std::move(morph.normals));
    return MorphLoad::Attached;
}
