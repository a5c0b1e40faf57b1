#include "engine/MorphDataLoader.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "engine/MeshObject.h"
#include "engine/SceneFile.h"
#include "engine/SceneReader.h"

#include <memory>

MorphLoad loadMorphData(MeshObject& mesh) {
    const std::string path = scenefile::morphDataPath(mesh.name());
    std::unique_ptr<DataFile> file(DataFile::open(path.c_str()));
    if (!file) return MorphLoad::Missing;
    scenefile::MorphData morph;
    scenefile::ReadResult result = scenefile::readMorphData(
        file->getData(), file->getSize(), static_cast<int32_t>(mesh.vertices().size()), morph);
    if (!result) {
        // A file that does not fit the mesh would have the morph read past its frames.
        reportErrorText(__FILE__, __LINE__, "Morph data is broken", (path + ": " + result.message).c_str(),
                        false);
        return MorphLoad::Broken;
    }
    mesh.setMorphData(morph.frameCount, std::move(morph.positions), std::move(morph.normals));
    return MorphLoad::Attached;
}
