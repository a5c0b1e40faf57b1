// What assimp's readers may open while they read a model: every file goes through ConfinedIO,
// which takes regular files only, from the model's folder only (unless --allow-outside), and
// remembers what it opened and what it refused.
#pragma once

#include "sceneimport/ImportFiles.h"

#include <assimp/DefaultIOSystem.h>

#include <set>
#include <string>

namespace sceneimport {

class ConfinedIO : public Assimp::DefaultIOSystem {
  public:
    // A model held in memory: no file may be opened.
    ConfinedIO() = default;
    // `model` is the model file as named; the files it names must lie in its folder (symbolic
    // links resolved, as for textures) unless `allowOutside`. With `objectsAsGroups` (ModelFacts)
    // the model is read with its 'o' statements as 'g'.
    ConfinedIO(const std::string& model, bool allowOutside, bool objectsAsGroups);

    Assimp::IOStream* Open(const char* file, const char* mode) override;
    bool Exists(const char* file) const override { return isFile(file); }

    // The first file refused for not being a regular file ("" if none): a buffer that could not
    // be read is the import's failure, a material file left out a warning.
    std::string notRegular;
    // The first file refused for lying outside the model's folder: the import fails.
    std::string outside;
    std::set<FileId> opened;

  private:
    bool fromDisk_ = false;
    std::string folder_;
    FileId model_{};
    bool allowOutside_ = false, objectsAsGroups_ = false;
};

} // namespace sceneimport
