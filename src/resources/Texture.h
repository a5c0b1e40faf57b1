// GL textures made from image files or empty at a size, and the process-wide registry that
// shares them by name.
#pragma once

#include "platform/GL.h"
#include "resources/ImageLibrary.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class Texture {
  public:
    explicit Texture(GLenum textureTarget = GL_TEXTURE_2D, GLenum format = GL_RGBA)
        : target(textureTarget), internalFormat(format) {}
    ~Texture(); // frees the image; the GL object is left to the context
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Binds with the texture's target (GL_TEXTURE_2D for the depth kind).
    void bind();
    void setFilter(GLint minFilter, GLint magFilter);
    ImageData* getImage() { return image; }

    // False when no image came back. Targets other than GL_TEXTURE_2D are reported and not uploaded.
    bool loadFromFile(const char* name, const char* directory);
    // Reads the file a 2D texture was loaded from again into the same GL object, so whatever
    // holds the texture shows the new picture. False (the old picture kept) when the texture came
    // from no file or the file can't be loaded now; a fatal report on the way (a bit depth the
    // upload refuses) leaves the old picture too.
    bool reloadFromFile();
    // Uploads the image as a mipmapped 2D texture, resized to powers of two.
    void generateTexture2D();
    // Writes the brightness of `mask`'s picture into this texture's alpha (same sizes only, a
    // 32-bit picture here, at least 24 bits there) and uploads it again. Remembered, so that a
    // reload of this picture gets its mask again. A picture dropped by dropImage is decoded again
    // for it (and dropped again afterwards).
    void applyAlphaMask(Texture* mask);
    // Frees the decoded picture of a texture loaded from a file; the uploaded texture stays. Only
    // an alpha mask reads the picture again, and decodes it from the file for that.
    void dropImage();
    // Empty textures: 2D rounded up to powers of two from 8 (at most 1024), depth and cube map
    // size x size.
    void createEmpty2D(int w, int h);
    void createDepth(int size);
    void createCubeMap(int size);

    ImageData* image = nullptr;
    GLuint id = 0;
    Texture* alphaMask = nullptr; // the mask applyAlphaMask last wrote into the alpha
    GLenum target;                // GL_TEXTURE_2D, GL_TEXTURE_CUBE_MAP or GL_DEPTH_COMPONENT
    GLenum internalFormat;
    int width = 0;
    int height = 0;
    int imageWidth = 0; // size of the image file before resizing
    int imageHeight = 0;
    std::string sourcePath; // directory + name of the file it was loaded from, for reports

  private:
    // The picture from sourcePath again, sized and widened as the upload had it. False when it
    // can't be read now (or no longer has the uploaded proportions).
    bool decodeAgain();
    void writeAlphaFrom(ImageData& base, const ImageData& source);
};

// Generic name -> object registry; the destructor deletes every entry.
template <typename T> class ResourceManager {
  public:
    struct Entry {
        T* object = nullptr;
        unsigned useCount = 0; // every time a caller obtained the object by name
    };

    virtual ~ResourceManager() {
        for (auto& item : entries)
            delete item.second;
    }

    // nullptr when the name is not registered.
    const Entry* find(const std::string& name) const {
        auto found = entries.find(name);
        return found == entries.end() ? nullptr : found->second;
    }
    size_t size() const { return entries.size(); }

  protected:
    std::map<std::string, Entry*> entries; // byte-wise ordered names
};

class TextureManager : public ResourceManager<Texture> {
  public:
    // Created on first use; lives until the process ends.
    static TextureManager& instance();

    // The registered texture of that name, or a new one loaded from directory + name
    // (the key is the name alone). nullptr when the name is empty or the file can't be loaded.
    Texture* loadTexture(const std::string& name, const std::string& directory, GLenum target);
    // The registered texture of that name (size and format as first made), or a new empty one.
    // target GL_TEXTURE_2D, GL_TEXTURE_CUBE_MAP (width is the size) or GL_DEPTH_COMPONENT.
    Texture* createTexture(const std::string& name, int width, int height, GLenum target,
                           GLenum internalFormat);
    // 0 registered (or counted again for the same texture); 1 refused: null, or the name holds
    // another texture.
    int registerTexture(const std::string& name, Texture* texture);
    // Loads each named 2D picture ahead of the frame that shows it (loadTexture), leaving the
    // texture binding and the pixel store as they were. A name is tried once however often it is
    // named; returns the names that could not be loaded (reported, where the loader reports).
    std::vector<std::string> preload(const std::vector<std::string>& names);
    // The textures loaded from files (loadTexture), for a tool that reloads them.
    std::vector<Texture*> fileTextures() const;
    // Deletes every texture with its image (not the GL objects) and empties the registry.
    void releaseAll();
    // Deletes the texture of that name, its GL object included, when nobody but its first caller
    // obtained it; a later load of the name reads the file again. False (and nothing done) when
    // the name is not registered or the texture is shared.
    bool releaseIfUnshared(const std::string& name);
    // Frees the decoded pictures of the textures loaded so far (dropImage): once a demo has
    // loaded, they only cost memory.
    void dropImages();
    // A tool that loads the demo again (the preview) gives back the pictures of the version it
    // replaces: markFileTextures notes the pictures loaded so far; after the new load,
    // releaseMarkedNotAskedFor deletes those it did not ask for by name, or, when the load failed,
    // releaseUnmarked deletes those it loaded. GL objects included: nothing may hold them any more
    // (the old effects and scenes are gone). A later load of such a name reads its file again.
    // Both return how many went and end the marking.
    void markFileTextures();
    size_t releaseMarkedNotAskedFor();
    size_t releaseUnmarked();
    // Whether a picture loaded from a file keeps its decoded copy after the upload (the default),
    // or frees it at once (dropImage: an alpha mask decodes it again). Returns the previous choice.
    static bool keepDecodedImages(bool keep);

    // A checking tool's look at each picture before it is loaded (directory + name): false skips
    // the load as if the file could not be read. None is installed in the player.
    using LoadCheck = bool (*)(const std::string& name, const std::string& directory);
    static LoadCheck setLoadCheck(LoadCheck check);
    // Hears of each picture file that could not be loaded, after the load failed (a tool says
    // why, against the script line that named it). Returns the one it replaces.
    using LoadFailure = void (*)(const std::string& name, const std::string& directory);
    static LoadFailure setLoadFailure(LoadFailure observer);

  private:
    void releaseFileTexture(const std::string& name);

    bool marking = false;
    std::set<std::string> marked, askedSinceMark;
};

// The pictures that an effect's timed signals name, loaded with the script and handed out when
// the signal arrives. A picture the preload could not load was reported then: the signal's own
// load would only try and report it again.
class PreloadedPictures {
  public:
    void preload(const std::vector<std::string>& names);
    // loadTexture's texture for the name; nullptr, without another try, for a preload miss.
    Texture* load(const std::string& name);

  private:
    std::set<std::string> missed;
};
