// Copies (or converts) each texture a material names into the texture directory once, under a
// name that is unique among this import's textures, and gives the name the scene stores. Nothing
// takes its final name before the scene is written (commit); until then the pictures wait under
// temporary names that rollback removes.
#pragma once

#include "sceneimport/ImportFiles.h"

#include <map>
#include <set>
#include <string>
#include <vector>

struct aiScene;
struct aiTexture;
struct ImageData;

namespace sceneimport {

class TextureCopier {
  public:
    // `write` false names the textures without reading or writing anything (the front end alone).
    TextureCopier(const aiScene* scene, std::string inputDir, std::string outputDir, std::string outputStem,
                  bool allowOutside, std::set<FileId> inputs, bool write = true);
    ~TextureCopier();
    TextureCopier(const TextureCopier&) = delete;
    TextureCopier& operator=(const TextureCopier&) = delete;

    // Empty when the texture cannot be carried (a warning says why, or error() is set).
    std::string place(const std::string& reference);
    // The first texture that could not be written, or one that would replace what it must not.
    const std::string& error() const { return error_; }
    size_t count() const;
    // Gives every texture its final name; false, with the reason, when one cannot take it.
    bool commit(std::string& error);
    void rollback();

  private:
    struct Staged {
        std::string name, final, temporary;
    };

    std::string uniqueName(const std::string& stem, const std::string& extension);
    std::string temporaryFor(const std::string& name) const;
    bool fail(const std::string& what);
    // Checks the texture's final place and makes its temporary file with `bytes` (or, when
    // `bytes` is null, leaves the temporary name for the caller to write).
    bool stage(const std::string& name, const std::vector<uint8_t>* bytes);
    void unstage(const std::string& name);
    // A texture that would land on one of the model's own files: true when it is that very
    // picture, which then stays as it is; error() is set when it is another.
    bool keepsInput(const std::string& name, const std::vector<uint8_t>& bytes);
    // PNG and JPEG go over byte for byte once the engine's decoder has read them; the decoder
    // picks by the name's ending, so the name gets the ending of what the bytes are.
    std::string placeEncoded(const std::vector<uint8_t>& bytes, const std::string& stem,
                             const std::string& what);
    static bool rewritePng(const std::vector<uint8_t>& bytes, const std::string& path);
    static bool writeGreyAsRgb(const ImageData& image, const std::string& path);
    // Whether the header gives a size the player takes; a warning says when not.
    static bool sizeFits(const PictureHeader& h, const std::string& what);
    // Reads a texture file once its header says it is a picture of a size the player takes.
    bool readPicture(const std::string& path, const std::string& what, std::vector<uint8_t>& bytes);
    std::string placeFile(const std::string& reference);
    std::string placeEmbedded(const aiTexture* texture, int index);

    const aiScene* scene_;
    std::string inputDir_, realInputDir_, outputDir_, outputStem_;
    bool allowOutside_;
    std::set<FileId> inputs_;
    bool write_;
    std::map<std::string, std::string> placed_;
    std::map<FileId, std::string> byFile_;
    std::set<std::string> used_;
    std::vector<Staged> staged_;
    std::string error_;
};

} // namespace sceneimport
