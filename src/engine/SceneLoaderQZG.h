// Loads binary scene files into Scenes, and the process-wide cache that shares one Scene per
// file name between every effect that names the file.
#pragma once

#include <map>
#include <string>

class Scene;
class Texture;

namespace scenefile {
struct SceneFile;
}

class SceneLoader {
  public:
    virtual ~SceneLoader() = default;
    // The scene, or nullptr when the file cannot be loaded.
    virtual Scene* load(const std::string& fileName, const std::string& textureDirectory) = 0;
};

// One loader lives for one load call.
class SceneLoaderQZG : public SceneLoader {
  public:
    // A cached scene of that name is returned without reading. Otherwise the file is read whole
    // through the data-file layer; a missing file gives nullptr
    // silently, a version other than 1 or a malformed file (limits included: see SceneFile.h)
    // gives nullptr after a non-fatal report, an unknown chunk id is fatal; every report names
    // the file and the reason. A loaded scene is added to the cache.
    Scene* load(const std::string& fileName, const std::string& textureDirectory) override;

    // Makes a finished Scene from parsed records (no cache involved); textures are resolved
    // against the current texture directory.
    static Scene* buildScene(const scenefile::SceneFile& file);

    // Off: a stored texture name is looked up by its part after the last backslash in the
    // texture directory. On: by the name as stored, with no directory. Start-up switches it off.
    static void setKeepStoredTexturePaths(bool keep);
    static bool keepStoredTexturePaths();
    // The texture directory of the most recent load.
    static const std::string& textureDirectory();
    // The texture a stored name resolves to, or nullptr (an empty name gives none). A lookup
    // name that is absolute or climbs out with ".." is refused with a non-fatal report (and
    // `refused` set) instead of being looked up, unless stored paths are kept.
    static Texture* resolveTexture(const std::string& storedName, bool* refused = nullptr);

    const std::string& fileName() const { return fileName_; }
    Scene* scene() const { return scene_; }

  private:
    std::string fileName_;
    std::string textureDirectory_;
    Scene* scene_ = nullptr;
};

// Every scene loaded so far, by exact file name; the cache owns them. The player never removes
// one. A tool that loads the script again hands the cache's scenes over first, so the new load
// reads the files afresh rather than taking scenes whose state the running timeline has changed.
class SceneCache {
  public:
    using Scenes = std::map<std::string, Scene*>;
    static SceneCache& instance();

    Scene* find(const std::string& fileName) const;
    // False (and the scene not taken) when the name is already present.
    bool add(const std::string& fileName, Scene* scene);
    size_t size() const { return scenes_.size(); }

    // Leaves the cache empty; the caller owns the scenes it held.
    Scenes takeAll();
    // Makes `scenes` the cache's again, deleting the scenes loaded since they were taken.
    void restore(Scenes scenes);
    // Deletes scenes taken from the cache (nothing may show them any more).
    static void destroy(Scenes& scenes);

  private:
    SceneCache() = default;
    std::map<std::string, Scene*> scenes_;
};
