// What model import does with names and files: warnings counted as they are given, names made
// plain and unique, files compared by identity, and a picture's kind and size read from its header.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sceneimport {

// A warning on stderr ("holdfast-scene: warning: ..."), counted for the summary.
void warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
int warningCount();
// The front end alone (fuzzing) counts its warnings without printing them.
void setQuiet(bool quiet);

std::string lower(std::string s);
// The part after the last slash or backslash: model files written on Windows keep backslashes.
std::string baseName(const std::string& path);
std::string directoryOf(const std::string& path);
std::string stemOf(const std::string& name);
// Texture names end up as file names in data/textures/ and in archive members: keep them plain.
std::string plainName(const std::string& s);
bool isFile(const std::string& path);
// Something other than a regular file at `path` (a FIFO, a device, a symbolic link, a folder):
// outputs never replace those.
bool holdsOtherThanFile(const std::string& path);

// A file's identity, so that two names of one file compare equal.
struct FileId {
    dev_t device;
    ino_t inode;
    bool operator<(const FileId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
};
bool fileId(const std::string& path, FileId& id);

bool readBytes(const std::string& path, std::vector<uint8_t>& out);
bool sameBytes(const std::string& a, const std::string& b);
// glTF URIs may be percent-encoded ("my%20wood.png").
std::string percentDecoded(const std::string& s);
// The canonical path (symbolic links and ".." resolved); empty when it does not exist.
std::string canonical(const std::string& path);
bool isInside(const std::string& path, const std::string& folder);

// Where an import puts its textures. The player looks a scene's textures up in its demo's
// data/textures/, so a scene written under a demo's data/scenes/ (or a folder below it) has
// them go there unless the user names another folder; elsewhere they go beside the scene.
struct TexturePlace {
    std::string folder;       // where they go
    std::string playerFolder; // where the player will look; "" when the scene lies in no demo
    bool playerLooksThere = true;
};
TexturePlace texturePlace(const std::string& output, const std::string& chosen);

enum class ImageKind { Unknown, Png, Jpeg };
ImageKind imageKind(const uint8_t* p, size_t n);

// A picture file's kind and size read from its header, so that nothing is read whole before it
// is known to be a picture the player can take.
struct PictureHeader {
    ImageKind kind = ImageKind::Unknown;
    uint32_t width = 0, height = 0;
};
PictureHeader readPictureHeader(const std::string& path, uint64_t size);
// The same for a picture held in memory.
PictureHeader pictureHeader(const uint8_t* p, size_t n);

} // namespace sceneimport
