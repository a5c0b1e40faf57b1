#include "SceneImport.h"

#include "ModelCheck.h"

#include "engine/SceneFile.h"
#include "engine/SceneWriter.h"
#include "platform/ReplacingFile.h"
#include "resources/ImageLibrary.h"
#include "resources/PngWriter.h"

#include <assimp/DefaultIOSystem.h>
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

int warnings = 0;
bool quiet = false; // the front end alone (fuzzing) counts its warnings without printing them

void warn(const char* format, ...) {
    ++warnings;
    if (quiet) return;
    std::fputs("holdfast-scene: warning: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

// ---- names and files ----------------------------------------------------------------------

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The part after the last slash or backslash: model files written on Windows keep backslashes.
std::string baseName(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string directoryOf(const std::string& path) {
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

std::string stemOf(const std::string& name) {
    std::string base = baseName(name);
    size_t dot = base.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

// Texture names end up as file names in data/textures/ and in archive members: keep them plain.
std::string plainName(const std::string& s) {
    std::string out;
    for (char c : s) {
        const bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
        out += keep ? c : '_';
    }
    return out.empty() ? "texture" : out;
}

bool isFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Something other than a regular file at `path` (a FIFO, a device, a symbolic link, a folder):
// outputs never replace those.
bool holdsOtherThanFile(const std::string& path) {
    return !platform::replaceableOutput(path.c_str());
}

// A file's identity, so that two names of one file compare equal.
struct FileId {
    dev_t device;
    ino_t inode;
    bool operator<(const FileId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
};

bool fileId(const std::string& path, FileId& id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

bool readBytes(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool sameBytes(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0 || sa.st_size != sb.st_size) return false;
    std::vector<uint8_t> x, y;
    return readBytes(a, x) && readBytes(b, y) && x == y;
}

// glTF URIs may be percent-encoded ("my%20wood.png").
std::string percentDecoded(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The canonical path (symbolic links and ".." resolved); empty when it does not exist.
std::string canonical(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return "";
    std::string out = real;
    std::free(real);
    return out;
}

bool isInside(const std::string& path, const std::string& folder) {
    if (folder == "/") return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

enum class ImageKind { Unknown, Png, Jpeg };

ImageKind imageKind(const uint8_t* p, size_t n) {
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (n >= 8 && std::equal(png, png + 8, p)) return ImageKind::Png;
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return ImageKind::Jpeg;
    return ImageKind::Unknown;
}

// A picture file's kind and size read from its header, so that nothing is read whole before it
// is known to be a picture the player can take.
struct PictureHeader {
    ImageKind kind = ImageKind::Unknown;
    uint32_t width = 0, height = 0;
};

uint32_t be16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}

uint32_t be32(const uint8_t* p) {
    return be16(p) << 16 | be16(p + 2);
}

bool readAt(std::ifstream& in, uint64_t offset, uint8_t* into, size_t n) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in.gcount()) == n;
}

PictureHeader readPictureHeader(const std::string& path, uint64_t size) {
    PictureHeader h;
    std::ifstream in(path, std::ios::binary);
    uint8_t b[24];
    if (!readAt(in, 0, b, 3)) return h;
    const bool png = readAt(in, 0, b, 24) && imageKind(b, 24) == ImageKind::Png;
    if (png && std::memcmp(b + 12, "IHDR", 4) == 0) {
        h = {ImageKind::Png, be32(b + 16), be32(b + 20)};
        return h;
    }
    if (png || imageKind(b, 3) != ImageKind::Jpeg) {
        h.kind = png ? ImageKind::Png : ImageKind::Unknown;
        return h;
    }
    h.kind = ImageKind::Jpeg;
    // Segment by segment to the frame header, which holds the size.
    for (uint64_t at = 2; at + 4 <= size;) {
        if (!readAt(in, at, b, 4) || b[0] != 0xFF) break;
        if (b[1] == 0xFF) { // fill byte
            ++at;
            continue;
        }
        const uint8_t marker = b[1];
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && readAt(in, at + 4, b + 4, 5)) {
            h.height = be16(b + 5);
            h.width = be16(b + 7);
            break;
        }
        at += 2 + be16(b + 2);
    }
    return h;
}

// ---- textures -------------------------------------------------------------------------------

// Copies (or converts) each texture a material names into the texture directory once, under a
// name that is unique among this import's textures, and gives the name the scene stores. Nothing
// takes its final name before the scene is written (commit); until then the pictures wait under
// temporary names that rollback removes.
class TextureCopier {
  public:
    TextureCopier(const aiScene* scene, std::string inputDir, std::string outputDir, std::string outputStem,
                  bool allowOutside, std::set<FileId> inputs, bool write = true)
        : scene_(scene), inputDir_(std::move(inputDir)), outputDir_(std::move(outputDir)),
          outputStem_(std::move(outputStem)), allowOutside_(allowOutside), inputs_(std::move(inputs)),
          write_(write) {
        realInputDir_ = canonical(inputDir_);
    }
    ~TextureCopier() { rollback(); }

    // Empty when the texture cannot be carried (a warning says why, or error() is set).
    std::string place(const std::string& reference) {
        if (reference.empty() || !error_.empty()) return "";
        auto embedded = scene_->GetEmbeddedTextureAndIndex(reference.c_str());
        const std::string key = embedded.first ? "*" + std::to_string(embedded.second) : reference;
        auto done = placed_.find(key);
        if (done != placed_.end()) return done->second;
        std::string name;
        if (!write_)
            name = plainName(stemOf(reference));
        else
            name = embedded.first ? placeEmbedded(embedded.first, embedded.second) : placeFile(reference);
        placed_[key] = name;
        return name;
    }

    // The first texture that could not be written, or one that would replace what it must not.
    const std::string& error() const { return error_; }
    size_t count() const {
        std::set<std::string> names;
        for (const auto& entry : placed_)
            if (!entry.second.empty()) names.insert(entry.second);
        return names.size();
    }

    // Gives every texture its final name; false, with the reason, when one cannot take it.
    bool commit(std::string& error) {
        for (Staged& s : staged_) {
            if (isFile(s.final) && !sameBytes(s.final, s.temporary))
                warn("texture %s in %s is replaced by another picture", s.name.c_str(), outputDir_.c_str());
            if (holdsOtherThanFile(s.final) || std::rename(s.temporary.c_str(), s.final.c_str()) != 0) {
                error = "cannot write texture " + s.final + ": " + std::strerror(errno);
                return false;
            }
            s.temporary.clear();
        }
        staged_.clear();
        return true;
    }

    void rollback() {
        for (const Staged& s : staged_)
            if (!s.temporary.empty()) std::remove(s.temporary.c_str());
        staged_.clear();
    }

  private:
    struct Staged {
        std::string name, final, temporary;
    };

    std::string uniqueName(const std::string& stem, const std::string& extension) {
        std::string base = plainName(stem);
        std::string name = base + extension;
        for (int n = 2; used_.count(lower(name)); ++n)
            name = base + "_" + std::to_string(n) + extension;
        used_.insert(lower(name));
        return name;
    }

    std::string temporaryFor(const std::string& name) const {
        return outputDir_ + "/." + name + "." + std::to_string(::getpid()) + ".part";
    }

    bool fail(const std::string& what) {
        if (error_.empty()) error_ = what;
        return false;
    }

    // Checks the texture's final place and makes its temporary file with `bytes` (or, when
    // `bytes` is null, leaves the temporary name for the caller to write).
    bool stage(const std::string& name, const std::vector<uint8_t>* bytes) {
        const std::string final = outputDir_ + "/" + name;
        if (holdsOtherThanFile(final))
            return fail("cannot write texture " + final + ": it exists and is not a regular file");
        const std::string temporary = temporaryFor(name);
        staged_.push_back({name, final, ""});
        std::string error;
        // Without bytes an empty file still makes the folder and shows that it can be written.
        if (!writeBytesToFile(bytes ? *bytes : std::vector<uint8_t>(), temporary, &error)) {
            const std::string reason = std::strerror(errno);
            std::remove(temporary.c_str());
            staged_.pop_back();
            return fail("cannot write texture " + final + ": " + reason);
        }
        staged_.back().temporary = temporary;
        return true;
    }

    void unstage(const std::string& name) {
        for (auto s = staged_.begin(); s != staged_.end(); ++s)
            if (s->name == name) {
                std::remove(s->temporary.c_str());
                staged_.erase(s);
                return;
            }
    }

    // A texture that would land on one of the model's own files: true when it is that very
    // picture, which then stays as it is; error() is set when it is another.
    bool keepsInput(const std::string& name, const std::vector<uint8_t>& bytes) {
        FileId id;
        if (!fileId(outputDir_ + "/" + name, id) || !inputs_.count(id)) return false;
        std::vector<uint8_t> before;
        if (readBytes(outputDir_ + "/" + name, before) && before == bytes) return true;
        return fail("texture " + outputDir_ + "/" + name +
                    " would replace one of the model's own files; give --textures another folder");
    }

    // PNG and JPEG go over byte for byte once the engine's decoder has read them; the decoder
    // picks by the name's ending, so the name gets the ending of what the bytes are.
    std::string placeEncoded(const std::vector<uint8_t>& bytes, const std::string& stem,
                             const std::string& what) {
        ImageKind kind = imageKind(bytes.data(), bytes.size());
        if (kind == ImageKind::Unknown) {
            warn("texture %s is neither PNG nor JPEG: not carried over", what.c_str());
            return "";
        }
        std::string name = uniqueName(stem, kind == ImageKind::Png ? ".png" : ".jpg");
        const std::string path = temporaryFor(name);
        const bool kept = keepsInput(name, bytes);
        if (!error_.empty()) return "";
        if (!kept && !stage(name, &bytes)) return "";
        const std::string readFrom = kept ? outputDir_ + "/" + name : path;
        ImageData* image = kind == ImageKind::Png ? ImageLibrary::instance().loadPNG(readFrom.c_str())
                                                  : ImageLibrary::instance().loadJPEG(readFrom.c_str());
        if (!image) {
            warn("texture %s cannot be decoded: not carried over", what.c_str());
            unstage(name);
            return "";
        }
        // The engine takes 8-bit RGB and RGBA only (it stops on grey, palette or 16-bit
        // pictures): anything else is rewritten as 8-bit PNG.
        const uint32_t depth = image->bitsPerPixel;
        bool ok = true;
        if (depth != 24 && depth != 32) {
            if (kept) {
                freeImage(image);
                fail("texture " + outputDir_ + "/" + name +
                     " would be converted over one of the model's own files; give --textures another folder");
                return "";
            }
            if (kind == ImageKind::Png) {
                ok = rewritePng(bytes, path);
            } else {
                unstage(name);
                name = uniqueName(stem, ".png");
                ok = depth == 8 && stage(name, nullptr) && writeGreyAsRgb(*image, temporaryFor(name));
            }
        }
        freeImage(image);
        if (!ok) {
            unstage(name);
            if (!error_.empty()) return "";
            warn("texture %s cannot be converted to 8-bit RGB: not carried over", what.c_str());
            return "";
        }
        return name;
    }

    static bool rewritePng(const std::vector<uint8_t>& bytes, const std::string& path) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
        if (image.width > kMaxImageSide || image.height > kMaxImageSide) {
            png_image_free(&image);
            return false;
        }
        image.format = (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
        std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return false;
        return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
    }

    static bool writeGreyAsRgb(const ImageData& image, const std::string& path) {
        std::vector<unsigned char> rgb;
        rgb.reserve(static_cast<size_t>(image.width) * image.height * 3);
        for (size_t i = 0; i < static_cast<size_t>(image.width) * image.height; ++i)
            rgb.insert(rgb.end(), {image.data[i], image.data[i], image.data[i]});
        return writeRgbPng(path, static_cast<int>(image.width), static_cast<int>(image.height), rgb.data(),
                           false, false);
    }

    // Reads a texture file once its header says it is a picture of a size the player takes.
    bool readPicture(const std::string& path, const std::string& what, std::vector<uint8_t>& bytes) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        const PictureHeader h = readPictureHeader(path, size);
        if (h.kind == ImageKind::Unknown) {
            warn("texture %s is neither PNG nor JPEG: not carried over", what.c_str());
            return false;
        }
        if (h.width == 0 || h.height == 0 || h.width > kMaxImageSide || h.height > kMaxImageSide) {
            warn("texture %s is %ux%u pixels; the player takes 1 to %u a side: not carried over",
                 what.c_str(), h.width, h.height, kMaxImageSide);
            return false;
        }
        // Even uncompressed 16-bit RGBA with room for metadata stays under this.
        const uint64_t most = static_cast<uint64_t>(h.height) * (1 + uint64_t{h.width} * 8) + (16u << 20);
        if (size > most) {
            warn("texture %s holds %llu bytes, more than a %ux%u picture can: not carried over", what.c_str(),
                 static_cast<unsigned long long>(size), h.width, h.height);
            return false;
        }
        if (readBytes(path, bytes)) return true;
        warn("texture %s cannot be read: not carried over", what.c_str());
        return false;
    }

    std::string placeFile(const std::string& reference) {
        std::string ref = reference;
        std::replace(ref.begin(), ref.end(), '\\', '/');
        std::vector<std::string> candidates;
        for (const std::string& r : {ref, percentDecoded(ref)}) {
            if (!r.empty() && r[0] == '/') candidates.push_back(r);
            // Paths from the authoring machine ("C:/art/maps/wood.png"): the file travels with
            // the model, so try ever shorter tails of the path beside it ("maps/wood.png", ...).
            for (size_t from = 0; from != std::string::npos;) {
                const std::string tail = r.substr(from);
                if (!tail.empty()) candidates.push_back(inputDir_ + "/" + tail);
                const size_t slash = r.find('/', from);
                from = slash == std::string::npos ? slash : slash + 1;
            }
        }
        std::string outside;
        for (const std::string& path : candidates) {
            if (!isFile(path)) continue;
            // A model names its own pictures; "../" or an absolute name could reach any file.
            if (!allowOutside_ && !isInside(canonical(path), realInputDir_)) {
                if (outside.empty()) outside = path;
                continue;
            }
            // One picture named two ways ("wood.png", "./maps/../wood.png") is copied once.
            FileId id{};
            const bool known = fileId(path, id);
            if (known && byFile_.count(id)) return byFile_[id];
            std::vector<uint8_t> bytes;
            if (!readPicture(path, reference, bytes)) return "";
            if (known) inputs_.insert(id);
            const std::string name = placeEncoded(bytes, stemOf(path), reference);
            if (known) byFile_[id] = name;
            return name;
        }
        if (!outside.empty())
            warn("texture %s lies outside the model's folder (%s): not carried over (--allow-outside takes "
                 "it)",
                 reference.c_str(), outside.c_str());
        else
            warn("texture %s not found beside the model: not carried over", reference.c_str());
        return "";
    }

    std::string placeEmbedded(const aiTexture* texture, int index) {
        std::string stem = texture->mFilename.length ? stemOf(texture->mFilename.C_Str()) : "";
        if (stem.empty()) stem = outputStem_ + "_texture" + std::to_string(index);
        const std::string what = "embedded #" + std::to_string(index);
        if (texture->mHeight == 0) {
            const auto* p = reinterpret_cast<const uint8_t*>(texture->pcData);
            return placeEncoded(std::vector<uint8_t>(p, p + texture->mWidth), stem, what);
        }
        // Uncompressed texels: written as PNG. The writer keeps colour only.
        const size_t count = static_cast<size_t>(texture->mWidth) * texture->mHeight;
        std::vector<unsigned char> rgb;
        rgb.reserve(count * 3);
        bool alpha = false;
        for (size_t i = 0; i < count; ++i) {
            const aiTexel& t = texture->pcData[i];
            rgb.insert(rgb.end(), {t.r, t.g, t.b});
            alpha |= t.a != 255;
        }
        if (alpha) warn("texture %s: its alpha channel is dropped", what.c_str());
        std::string name = uniqueName(stem, ".png");
        if (!stage(name, nullptr)) return "";
        if (!writeRgbPng(temporaryFor(name), static_cast<int>(texture->mWidth),
                         static_cast<int>(texture->mHeight), rgb.data(), false, false)) {
            unstage(name);
            fail("cannot write texture " + outputDir_ + "/" + name);
            return "";
        }
        return name;
    }

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

// ---- materials ------------------------------------------------------------------------------

bool isBlack(const aiColor3D& c) {
    return c.r <= 0 && c.g <= 0 && c.b <= 0;
}

std::string textureReference(const aiMaterial* m, aiTextureType type, unsigned* uvSource = nullptr) {
    if (m->GetTextureCount(type) == 0) return "";
    aiString path;
    if (m->GetTexture(type, 0, &path) != AI_SUCCESS) return "";
    if (uvSource) {
        int source = 0;
        *uvSource = m->Get(AI_MATKEY_UVWSRC(type, 0), source) == AI_SUCCESS && source > 0 ? source : 0;
    }
    return path.C_Str();
}

float clamp01(float v) {
    return std::isfinite(v) ? std::min(1.0f, std::max(0.0f, v)) : 0.0f;
}

Material convertMaterial(const aiMaterial* from, int32_t id, TextureCopier& textures) {
    Material m;
    m.id = id;
    aiString name;
    m.name = from->Get(AI_MATKEY_NAME, name) == AI_SUCCESS && name.length ? name.C_Str()
                                                                          : "Material" + std::to_string(id);
    m.name = m.name.substr(0, std::min(m.name.find('\0'), MaxNameLength));
    const char* label = m.name.c_str();

    aiColor3D c;
    if (from->Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS) m.diffuse = {c.r, c.g, c.b};
    // Without an ambient colour of its own a surface keeps its colour in the lights' ambient share.
    m.ambient = m.diffuse;
    if (from->Get(AI_MATKEY_COLOR_AMBIENT, c) == AI_SUCCESS && !isBlack(c)) m.ambient = {c.r, c.g, c.b};
    if (from->Get(AI_MATKEY_COLOR_SPECULAR, c) == AI_SUCCESS) m.specular = {c.r, c.g, c.b};
    float f = 0;
    if (from->Get(AI_MATKEY_OPACITY, f) == AI_SUCCESS) m.opacity = clamp01(f);
    if (from->Get(AI_MATKEY_SHININESS, f) == AI_SUCCESS) m.shininess = clamp01(f / 128.0f);
    if (from->Get(AI_MATKEY_SHININESS_STRENGTH, f) == AI_SUCCESS && std::isfinite(f)) m.specularLevel = f;

    unsigned diffuseSource = 0;
    std::string diffuse = textureReference(from, aiTextureType_DIFFUSE, &diffuseSource);
    if (diffuse.empty()) diffuse = textureReference(from, aiTextureType_BASE_COLOR, &diffuseSource);
    std::string emissive = textureReference(from, aiTextureType_EMISSIVE);
    if (emissive.empty()) emissive = textureReference(from, aiTextureType_EMISSION_COLOR);
    std::string normals = textureReference(from, aiTextureType_NORMALS);
    if (normals.empty()) normals = textureReference(from, aiTextureType_HEIGHT); // OBJ's bump
    const std::string opacity = textureReference(from, aiTextureType_OPACITY);
    const std::string reflection = textureReference(from, aiTextureType_REFLECTION);

    auto add = [&](const std::string& reference, int32_t type) {
        std::string placed = textures.place(reference);
        if (!placed.empty()) m.textures.push_back({placed, type});
        return !placed.empty();
    };
    bool base = false;
    if (!diffuse.empty()) {
        base = add(diffuse, DiffuseMap);
        if (diffuseSource)
            warn("material %s: its colour map uses coordinate set %u; drawn with set 0", label,
                 diffuseSource);
    }
    if (!emissive.empty()) {
        // A glow map alone becomes an additive base texture; next to a colour map it has no place.
        if (diffuse.empty())
            base = add(emissive, RefractionMap);
        else
            warn("material %s: emissive map not carried over (it has a colour map)", label);
    }
    if (from->Get(AI_MATKEY_COLOR_EMISSIVE, c) == AI_SUCCESS && !isBlack(c) && emissive.empty())
        warn("material %s: emissive colour not carried over", label);
    if (!opacity.empty()) {
        add(opacity, OpacityMap);
        if (!base) warn("material %s: an opacity map needs a colour map of the same size to cut out", label);
    }
    if (!normals.empty()) {
        add(normals, BumpMap);
        if (base || reflection.empty())
            warn("material %s: its normal map is kept as a bump map, which is drawn only with a reflection "
                 "map and no colour map",
                 label);
    }
    if (!reflection.empty()) add(reflection, ReflectionMap);

    static const aiTextureType dropped[] = {
        aiTextureType_SPECULAR,          aiTextureType_AMBIENT,           aiTextureType_SHININESS,
        aiTextureType_DISPLACEMENT,      aiTextureType_LIGHTMAP,          aiTextureType_METALNESS,
        aiTextureType_DIFFUSE_ROUGHNESS, aiTextureType_AMBIENT_OCCLUSION, aiTextureType_SHEEN,
        aiTextureType_CLEARCOAT,         aiTextureType_TRANSMISSION,      aiTextureType_UNKNOWN};
    std::set<std::string> seen; // one texture may sit in several slots (metal-roughness does)
    for (aiTextureType type : dropped) {
        std::string ref = textureReference(from, type);
        if (ref.empty() || !seen.insert(std::string(aiTextureTypeToString(type))).second) continue;
        warn("material %s: %s map not carried over", label, lower(aiTextureTypeToString(type)).c_str());
    }
    return m;
}

// ---- animation sampling ---------------------------------------------------------------------

template <typename Key> size_t keyBefore(const Key* keys, unsigned count, double t) {
    // Last key at or before t (keys are in time order).
    size_t lo = 0, hi = count;
    while (hi - lo > 1) {
        size_t mid = (lo + hi) / 2;
        if (keys[mid].mTime <= t)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

aiVector3D sampleVector(const aiVectorKey* keys, unsigned count, double t) {
    size_t i = keyBefore(keys, count, t);
    if (t <= keys[0].mTime || i + 1 >= count) return keys[t <= keys[0].mTime ? 0 : i].mValue;
    const double span = keys[i + 1].mTime - keys[i].mTime;
    const float a = span > 0 ? static_cast<float>((t - keys[i].mTime) / span) : 0.0f;
    return keys[i].mValue + (keys[i + 1].mValue - keys[i].mValue) * a;
}

aiQuaternion sampleRotation(const aiQuatKey* keys, unsigned count, double t) {
    size_t i = keyBefore(keys, count, t);
    if (t <= keys[0].mTime || i + 1 >= count) return keys[t <= keys[0].mTime ? 0 : i].mValue;
    const double span = keys[i + 1].mTime - keys[i].mTime;
    const float a = span > 0 ? static_cast<float>((t - keys[i].mTime) / span) : 0.0f;
    aiQuaternion out;
    aiQuaternion::Interpolate(out, keys[i].mValue, keys[i + 1].mValue, a);
    return out.Normalize();
}

aiMatrix4x4 localAt(const aiNode* node, const aiNodeAnim* channel, double ticks) {
    if (!channel) return node->mTransformation;
    aiVector3D scale, position;
    aiQuaternion rotation;
    node->mTransformation.Decompose(scale, rotation, position);
    if (channel->mNumPositionKeys)
        position = sampleVector(channel->mPositionKeys, channel->mNumPositionKeys, ticks);
    if (channel->mNumRotationKeys)
        rotation = sampleRotation(channel->mRotationKeys, channel->mNumRotationKeys, ticks);
    if (channel->mNumScalingKeys)
        scale = sampleVector(channel->mScalingKeys, channel->mNumScalingKeys, ticks);
    return aiMatrix4x4(scale, rotation, position);
}

// ---- objects --------------------------------------------------------------------------------

struct NodeEntry {
    const aiNode* node;
    int parent;                     // index into the node list, -1 for the root
    std::vector<aiMatrix4x4> world; // per frame
    int32_t objectId = -1;          // -1: not written (the dropped root)
};

// The nodes in depth-first order, parents before children, walked without recursion: false when
// they nest deeper than kMaxNodeDepth.
bool collectNodes(const aiNode* root, std::vector<NodeEntry>& out) {
    struct Pending {
        const aiNode* node;
        int parent;
        size_t depth;
    };
    std::vector<Pending> stack{{root, -1, 1}};
    while (!stack.empty()) {
        const Pending p = stack.back();
        stack.pop_back();
        if (p.depth > kMaxNodeDepth) return false;
        out.push_back({p.node, p.parent, {}, -1});
        const int self = static_cast<int>(out.size()) - 1;
        for (unsigned i = p.node->mNumChildren; i-- > 0;)
            stack.push_back({p.node->mChildren[i], self, p.depth + 1});
    }
    return true;
}

bool finite(const aiVector3D& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Rest transform and key tracks from world matrices, one per frame. Children are drawn outside
// their parent's transform, so everything is stored in world space. Tracks that never change
// are left out.
void setTransform(ObjectHeader& h, const std::vector<aiMatrix4x4>& world) {
    std::vector<Float3> positions, scales;
    std::vector<Float4> rotations;
    for (const aiMatrix4x4& m : world) {
        aiVector3D s, p;
        aiQuaternion q;
        m.Decompose(s, q, p);
        if (!finite(s) || !finite(p) || !std::isfinite(q.x + q.y + q.z + q.w)) {
            s = finite(s) ? s : aiVector3D(0, 0, 0);
            p = finite(p) ? p : aiVector3D(0, 0, 0);
            q = aiQuaternion();
        }
        // The file keeps the conjugate of the rotation drawn.
        Float4 r{0.0f - q.x, 0.0f - q.y, 0.0f - q.z, q.w};
        // Neighbouring samples on the same side of the quaternion sphere, so that blending
        // between them takes the short way.
        if (!rotations.empty()) {
            const Float4& prev = rotations.back();
            if (prev[0] * r[0] + prev[1] * r[1] + prev[2] * r[2] + prev[3] * r[3] < 0)
                for (float& v : r)
                    v = -v;
        }
        positions.push_back({p.x, p.y, p.z});
        rotations.push_back(r);
        scales.push_back({s.x, s.y, s.z});
    }
    h.position = positions[0];
    h.rotation = rotations[0];
    h.scale = scales[0];
    auto varies = [](const auto& track) {
        for (const auto& v : track)
            for (size_t i = 0; i < v.size(); ++i)
                if (std::fabs(v[i] - track[0][i]) > 1e-6f * std::max(1.0f, std::fabs(track[0][i])))
                    return true;
        return false;
    };
    if (varies(positions)) h.positionKeys = positions;
    if (varies(rotations)) h.rotationKeys = rotations;
    if (varies(scales)) h.scaleKeys = scales;
}

aiMatrix4x4 translation(const aiVector3D& v) {
    aiMatrix4x4 m;
    aiMatrix4x4::Translation(v, m);
    return m;
}

// The world matrix's rotation alone, placed at `at`.
aiMatrix4x4 placedRotation(const aiMatrix4x4& world, const aiVector3D& at) {
    aiVector3D s, p;
    aiQuaternion q;
    world.Decompose(s, q, p);
    return translation(at) * aiMatrix4x4(q.GetMatrix());
}

aiVector3D direction(const aiMatrix4x4& world, const aiVector3D& local) {
    aiVector3D d = aiMatrix3x3(world) * local;
    const float length = d.Length();
    return length > 0 && std::isfinite(length) ? d / length : aiVector3D(0, 0, -1);
}

Float3 float3(const aiVector3D& v) {
    return {v.x, v.y, v.z};
}

Mesh convertMesh(const aiMesh* from, const std::string& name) {
    Mesh m;
    m.header.name = name;
    const unsigned n = from->mNumVertices;
    for (unsigned i = 0; i < n; ++i) {
        m.vertices.push_back(float3(from->mVertices[i]));
        aiVector3D normal = from->mNormals ? from->mNormals[i] : aiVector3D(0, 0, 1);
        m.normals.push_back(finite(normal) ? float3(normal) : Float3{0, 0, 1});
    }
    for (unsigned set = 0; set < 2; ++set) {
        if (!from->mTextureCoords[set]) continue;
        for (unsigned i = 0; i < n; ++i)
            m.coordinateSets[set].push_back({from->mTextureCoords[set][i].x, from->mTextureCoords[set][i].y});
    }
    if (from->mColors[0])
        for (unsigned i = 0; i < n; ++i)
            m.colours.push_back({from->mColors[0][i].r, from->mColors[0][i].g, from->mColors[0][i].b});
    for (unsigned i = 0; i < from->mNumFaces; ++i) {
        const aiFace& f = from->mFaces[i];
        if (f.mNumIndices != 3) continue;
        m.faces.push_back({static_cast<int32_t>(f.mIndices[0]), static_cast<int32_t>(f.mIndices[1]),
                           static_cast<int32_t>(f.mIndices[2])});
    }

    unsigned sets = 0;
    for (unsigned set = 0; set < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++set)
        sets += from->mTextureCoords[set] != nullptr;
    if (sets > 2)
        warn("mesh %s: %u texture coordinate sets; only the first two are kept", name.c_str(), sets);
    if (from->mNumBones)
        warn("mesh %s: skinning (%u bones) not carried over; drawn in its rest pose", name.c_str(),
             from->mNumBones);
    if (from->mNumAnimMeshes)
        warn("mesh %s: %u morph targets not carried over", name.c_str(), from->mNumAnimMeshes);
    return m;
}

class Builder {
  public:
    Builder(const aiScene* scene, bool gltf, TextureCopier& textures)
        : scene_(scene), gltf_(gltf), textures_(textures) {}

    std::string build(const ImportOptions& options, SceneFile& out) {
        if (!collectNodes(scene_->mRootNode, nodes_))
            return "nodes nested more than " + std::to_string(kMaxNodeDepth) + " levels deep";
        std::string error = sample(options.frameStep, out);
        if (!error.empty()) return error;

        for (unsigned i = 0; i < scene_->mNumCameras; ++i)
            cameras_[scene_->mCameras[i]->mName.C_Str()] = scene_->mCameras[i];
        for (unsigned i = 0; i < scene_->mNumLights; ++i)
            lights_[scene_->mLights[i]->mName.C_Str()] = scene_->mLights[i];

        // The root node that only holds the model together (no transform, nothing of its own)
        // is left out: its children become top-level objects.
        const aiNode* root = scene_->mRootNode;
        dropRoot_ = root->mNumMeshes == 0 && root->mTransformation.IsIdentity() && isStatic(0) &&
                    !cameras_.count(root->mName.C_Str()) && !lights_.count(root->mName.C_Str());

        for (size_t i = 0; i < nodes_.size(); ++i)
            addNode(i);

        if (lightCount_ > MaxLights)
            return std::to_string(lightCount_) + " lights; a scene holds at most " +
                   std::to_string(MaxLights);
        if (meshCount_ == 0 && cameraCount_ == 0 && lightCount_ == 0)
            return "no meshes, cameras or lights in the model";

        std::vector<Material> materials(materialIds_.size());
        for (const auto& [index, id] : materialIds_)
            materials[static_cast<size_t>(id - 1)] =
                convertMaterial(scene_->mMaterials[index], id, textures_);
        out.chunks.insert(out.chunks.begin(), MaterialList{materials});
        for (Chunk& chunk : objects_)
            out.chunks.push_back(std::move(chunk));
        return "";
    }

    // What the build made, for the summary.
    size_t meshes() const { return meshCount_; }
    size_t triangles() const { return triangleCount_; }
    size_t materials() const { return materialIds_.size(); }
    size_t cameras() const { return cameraCount_; }
    size_t lights() const { return lightCount_; }

  private:
    bool isStatic(size_t node) const {
        const auto& w = nodes_[node].world;
        for (const aiMatrix4x4& m : w)
            if (!(m == w[0])) return false;
        return true;
    }

    std::string sample(int step, SceneFile& out) {
        const aiAnimation* animation = scene_->mNumAnimations ? scene_->mAnimations[0] : nullptr;
        double ticksPerSecond = 25;
        double endTicks = 0;
        std::map<std::string, const aiNodeAnim*> channels;
        if (animation) {
            if (scene_->mNumAnimations > 1)
                warn("%u animations; only the first (%s) is sampled", scene_->mNumAnimations,
                     animation->mName.length ? animation->mName.C_Str() : "unnamed");
            if (animation->mTicksPerSecond > 0) ticksPerSecond = animation->mTicksPerSecond;
            endTicks = std::max(0.0, animation->mDuration);
            for (unsigned i = 0; i < animation->mNumChannels; ++i) {
                const aiNodeAnim* c = animation->mChannels[i];
                channels[c->mNodeName.C_Str()] = c;
                if (c->mNumPositionKeys)
                    endTicks = std::max(endTicks, c->mPositionKeys[c->mNumPositionKeys - 1].mTime);
                if (c->mNumRotationKeys)
                    endTicks = std::max(endTicks, c->mRotationKeys[c->mNumRotationKeys - 1].mTime);
                if (c->mNumScalingKeys)
                    endTicks = std::max(endTicks, c->mScalingKeys[c->mNumScalingKeys - 1].mTime);
            }
            if (animation->mNumMeshChannels || animation->mNumMorphMeshChannels)
                warn("mesh animation (vertex or morph channels) not carried over");
        }
        // Frame k is scene time k * step, and scene time runs at 100 units a second.
        const double units = endTicks / ticksPerSecond * 100.0;
        if (!std::isfinite(units) || units / step > 100000)
            return "the animation is too long to sample (more than 100000 frames)";
        const int frames = static_cast<int>(std::ceil(units / step - 1e-6)) + 1;
        out.firstFrame = 0;
        out.frameStep = step;
        out.lastFrame = (frames - 1) * step;

        for (NodeEntry& entry : nodes_) {
            auto c = channels.find(entry.node->mName.C_Str());
            const aiNodeAnim* channel = c == channels.end() ? nullptr : c->second;
            entry.world.resize(static_cast<size_t>(frames));
            for (int k = 0; k < frames; ++k) {
                const double ticks = k * step / 100.0 * ticksPerSecond;
                aiMatrix4x4 local = localAt(entry.node, channel, ticks);
                entry.world[static_cast<size_t>(k)] =
                    entry.parent < 0
                        ? local
                        : nodes_[static_cast<size_t>(entry.parent)].world[static_cast<size_t>(k)] * local;
            }
        }
        return "";
    }

    std::string uniqueName(std::string name) {
        name = name.substr(0, std::min(name.find('\0'), MaxNameLength - 8));
        if (name.empty()) name = "Object" + std::to_string(nextId_);
        std::string unique = name;
        for (int n = 2; names_.count(unique); ++n)
            unique = name + "." + std::to_string(n);
        if (unique != name)
            warn("object name %s is taken; this one is called %s", name.c_str(), unique.c_str());
        names_.insert(unique);
        return unique;
    }

    void header(ObjectHeader& h, const std::string& name, int32_t parent) {
        h.name = uniqueName(name);
        h.id = nextId_++;
        h.parentId = parent;
    }

    int32_t addMesh(const aiMesh* mesh, const std::string& name, int32_t parent,
                    const std::vector<aiMatrix4x4>& world) {
        Mesh m = convertMesh(mesh, name);
        triangleCount_ += m.faces.size();
        header(m.header, name, parent);
        setTransform(m.header, world);
        // Materials are numbered 1, 2, ... in the order the meshes use them; unused ones are left out.
        auto material =
            materialIds_.emplace(mesh->mMaterialIndex, static_cast<int32_t>(materialIds_.size()) + 1);
        m.header.materialId = material.first->second;
        ++meshCount_;
        objects_.push_back(std::move(m));
        return std::get<Mesh>(objects_.back()).header.id;
    }

    // A dummy that follows `points`, for cameras and lights that aim at it.
    int32_t addTarget(const std::string& name, int32_t parent, const std::vector<aiVector3D>& points) {
        Dummy d;
        header(d.header, name, parent);
        std::vector<aiMatrix4x4> world;
        for (const aiVector3D& p : points)
            world.push_back(translation(p));
        setTransform(d.header, world);
        objects_.push_back(d);
        return d.header.id;
    }

    bool addCamera(const aiCamera* from, const std::string& name, int32_t parent,
                   const std::vector<aiMatrix4x4>& world, int32_t& id) {
        if (from->mOrthographicWidth > 0)
            warn("camera %s is orthographic; drawn in perspective", name.c_str());
        Camera c;
        header(c.header, name, parent);
        id = c.header.id;
        std::vector<aiMatrix4x4> placed;
        std::vector<aiVector3D> targets;
        // A glTF camera sits at its node's origin; assimp's glTF reader repeats the node's
        // translation in the camera's own position, which would count it twice.
        const aiVector3D local = gltf_ ? aiVector3D(0, 0, 0) : from->mPosition;
        for (const aiMatrix4x4& w : world) {
            aiVector3D eye = w * local;
            placed.push_back(placedRotation(w, eye));
            targets.push_back(eye + direction(w, from->mLookAt) * 10.0f);
        }
        setTransform(c.header, placed);
        // The player draws at 4:3 from the horizontal angle: keep the vertical angle the model
        // was made with. assimp's glTF reader gives the vertical angle times the aspect (the
        // vertical angle itself when the model names no aspect).
        float horizontal = from->mHorizontalFOV > 0 ? from->mHorizontalFOV : 0.785398f;
        if (gltf_ || from->mAspect > 0) {
            const float aspect = from->mAspect > 0 ? from->mAspect : 1;
            const float vertical =
                gltf_ ? horizontal / aspect : 2 * std::atan(std::tan(horizontal / 2) / aspect);
            horizontal = 2 * std::atan(std::tan(vertical / 2) / 0.75f);
        }
        c.fieldOfView = horizontal;
        c.nearClip = from->mClipPlaneNear > 0 ? from->mClipPlaneNear : 1;
        c.farClip = from->mClipPlaneFar > c.nearClip ? from->mClipPlaneFar : c.nearClip * 2000;
        objects_.push_back(c);
        const size_t at = objects_.size() - 1;
        // The player aims a camera only at a target; without one it looks down -z from the origin.
        const int32_t target = addTarget(name + ".Target", id, targets);
        std::get<Camera>(objects_[at]).targetId = target;
        ++cameraCount_;
        return true;
    }

    bool addLight(const aiLight* from, const std::string& name, int32_t parent,
                  const std::vector<aiMatrix4x4>& world, int32_t& id) {
        Light l;
        switch (from->mType) {
        case aiLightSource_POINT:
            l.kind = OmniLight;
            break;
        case aiLightSource_SPOT:
            l.kind = TargetSpotLight;
            break;
        case aiLightSource_DIRECTIONAL:
            l.kind = TargetDirectLight;
            break;
        default:
            warn("light %s: ambient, area and unknown lights are not carried over (kept as a dummy)",
                 name.c_str());
            return false;
        }
        header(l.header, name, parent);
        id = l.header.id;
        std::vector<aiMatrix4x4> placed;
        std::vector<aiVector3D> targets;
        for (const aiMatrix4x4& w : world) {
            aiVector3D at = w * from->mPosition;
            const aiVector3D d = direction(w, from->mDirection);
            // A directional light has no place of its own: it shines from far back along its
            // direction onto the node's position.
            if (from->mType == aiLightSource_DIRECTIONAL) {
                targets.push_back(at);
                at -= d * 1000.0f;
            } else {
                targets.push_back(at + d * 10.0f);
            }
            placed.push_back(placedRotation(w, at));
        }
        setTransform(l.header, placed);
        const aiColor3D& c = from->mColorDiffuse;
        const float brightest = std::max({c.r, c.g, c.b});
        if (brightest > 0 && std::isfinite(brightest)) {
            // glTF gives physical intensities (candela, lux); exporters write a few units for
            // an ordinary lamp and hundreds for bright ones, where the fixed-function light
            // (whose ambient share is 0.3 of it) already washes a surface flat above 1. I / (1 + I)
            // keeps the order of lights and never passes 1: 1 gives 0.5, 3 gives 0.75.
            l.multiplier = gltf_ ? brightest / (1 + brightest) : brightest;
            l.colour = {c.r / brightest, c.g / brightest, c.b / brightest};
            // Other formats' values are taken as they are; the fixed-function light saturates at
            // a few.
            if (!gltf_ && brightest > 10)
                warn("light %s: intensity %g is taken as a plain colour multiplier; lower it in the model",
                     name.c_str(), brightest);
        } else {
            l.multiplier = 0;
        }
        if (from->mAttenuationLinear > 0 && std::isfinite(from->mAttenuationLinear))
            l.range = 2.0f / from->mAttenuationLinear;
        if (from->mType == aiLightSource_SPOT) {
            // glTF gives the angles from the axis; the other readers the whole cone.
            float outer = from->mAngleOuterCone, inner = from->mAngleInnerCone;
            if (!gltf_) outer /= 2, inner /= 2;
            l.coneAngle = outer * 180.0f / static_cast<float>(M_PI);
            // The fixed-function fall-off is cos^e of the angle: half strength midway between the
            // inner and the outer cone.
            const float mid = (inner + outer) / 2;
            l.coneExponent = inner < outer && mid > 0 && std::cos(mid) > 0
                                 ? std::min(128.0f, std::log(0.5f) / std::log(std::cos(mid)))
                                 : 0;
        }
        objects_.push_back(l);
        const size_t at = objects_.size() - 1;
        if (l.kind != OmniLight)
            std::get<Light>(objects_[at]).targetId = addTarget(name + ".Target", id, targets);
        ++lightCount_;
        return true;
    }

    void addNode(size_t index) {
        NodeEntry& entry = nodes_[index];
        const aiNode* node = entry.node;
        const int32_t parent = entry.parent < 0 ? -1 : nodes_[static_cast<size_t>(entry.parent)].objectId;
        if (index == 0 && dropRoot_) return;
        const std::string name = node->mName.C_Str();

        std::vector<const aiMesh*> meshes;
        for (unsigned i = 0; i < node->mNumMeshes; ++i) {
            const aiMesh* mesh = scene_->mMeshes[node->mMeshes[i]];
            if (mesh->mPrimitiveTypes & (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON))
                meshes.push_back(mesh);
            else
                warn("%s: points and lines are not carried over", name.c_str());
        }

        int32_t id = -1;
        auto camera = cameras_.find(name);
        auto light = lights_.find(name);
        if (camera != cameras_.end())
            addCamera(camera->second, name, parent, entry.world, id);
        else if (light != lights_.end())
            addLight(light->second, name, parent, entry.world, id);
        if (id < 0 && meshes.size() == 1) {
            entry.objectId = addMesh(meshes[0], name, parent, entry.world);
            return;
        }
        if (id < 0) {
            Dummy d;
            header(d.header, name, parent);
            setTransform(d.header, entry.world);
            id = d.header.id;
            objects_.push_back(d);
        }
        entry.objectId = id;
        // Several meshes on one node (one per material): children that move with it.
        for (size_t i = 0; i < meshes.size(); ++i) {
            std::string part = meshes[i]->mName.length ? meshes[i]->mName.C_Str() : std::to_string(i + 1);
            addMesh(meshes[i], name + "." + part, id, entry.world);
        }
    }

    const aiScene* scene_;
    bool gltf_;
    TextureCopier& textures_;
    std::vector<NodeEntry> nodes_;
    std::map<std::string, const aiCamera*> cameras_;
    std::map<std::string, const aiLight*> lights_;
    std::vector<Chunk> objects_;
    std::map<unsigned, int32_t> materialIds_; // assimp material index -> scene material id
    std::set<std::string> names_;
    int32_t nextId_ = 1;
    size_t lightCount_ = 0, meshCount_ = 0, cameraCount_ = 0, triangleCount_ = 0;
    bool dropRoot_ = false;
};

// Refuses to open anything but regular files, so that a buffer or material file naming a FIFO or
// a device can neither block the import nor feed it without end, and remembers what it opened.
class GuardedIOSystem : public Assimp::DefaultIOSystem {
  public:
    Assimp::IOStream* Open(const char* file, const char* mode) override {
        // The readers only read.
        if (std::strpbrk(mode, "wa+")) return nullptr;
        struct stat st;
        if (::stat(file, &st) == 0) {
            if (!S_ISREG(st.st_mode)) {
                if (refused.empty()) refused = std::string(file) + " is not a regular file";
                return nullptr;
            }
            opened.insert({st.st_dev, st.st_ino});
        }
        return DefaultIOSystem::Open(file, mode);
    }
    bool Exists(const char* file) const override { return isFile(file); }

    std::string refused;
    std::set<FileId> opened;
};

constexpr unsigned kReadFlags = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                aiProcess_GenSmoothNormals | aiProcess_SortByPType |
                                aiProcess_ValidateDataStructure;

Assimp::Importer& prepare(Assimp::Importer& importer, GuardedIOSystem* io) {
    importer.SetIOHandler(io); // the importer owns it
    // FBX pivots would otherwise come as extra helper nodes between the real ones.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    return importer;
}

// Why assimp gave no scene. A model of only cameras and lights comes flagged incomplete (it has
// no meshes): the object count decides instead, so only a missing root node counts here.
std::string readFailure(Assimp::Importer& importer, const GuardedIOSystem& io) {
    if (!io.refused.empty()) return io.refused;
    const char* reason = importer.GetErrorString();
    return reason && *reason ? reason : "incomplete scene";
}

std::string count(size_t n, const std::string& one, const std::string& many = "") {
    return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

bool isGltf(const std::string& name) {
    const std::string extension = lower(name.substr(name.find_last_of('.') + 1));
    return extension == "gltf" || extension == "glb";
}

// The whole import in this process: read, convert, then write the scene and give the textures
// their names, or leave nothing behind.
int importHere(const ImportOptions& options, std::string& error) {
    Assimp::Importer importer;
    auto* io = new GuardedIOSystem;
    const aiScene* scene = prepare(importer, io).ReadFile(options.input, kReadFlags);
    if (!scene || !scene->mRootNode) {
        error = "cannot import " + options.input + ": " + readFailure(importer, *io);
        return 1;
    }
    // A file the model names that is not a regular file was left out; say so.
    if (!io->refused.empty()) warn("%s: not read", io->refused.c_str());
    FileId outputId;
    if (fileId(options.output, outputId) && io->opened.count(outputId)) {
        error = "will not write " + options.output + ": it is one of the model's own files";
        return 1;
    }

    const std::string textureDir =
        options.textureDir.empty() ? directoryOf(options.output) : options.textureDir;
    TextureCopier textures(scene, directoryOf(options.input), textureDir, plainName(stemOf(options.output)),
                           options.allowOutside, io->opened);
    Builder builder(scene, isGltf(options.input), textures);
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
    const int frames = (out.lastFrame - out.firstFrame) / std::max(1, out.frameStep) + 1;
    std::printf("holdfast-scene: %s: %s, %s, %s, %s, %s, %s, %s, %s\n", options.output.c_str(),
                count(builder.meshes(), "mesh", "meshes").c_str(),
                count(builder.triangles(), "triangle").c_str(),
                count(builder.materials(), "material").c_str(), count(textures.count(), "texture").c_str(),
                count(builder.cameras(), "camera").c_str(), count(builder.lights(), "light").c_str(),
                count(static_cast<size_t>(frames), "frame").c_str(),
                count(static_cast<size_t>(warnings), "warning").c_str());
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
    if (const std::string problem = checkModelFile(options.input); !problem.empty()) {
        error = "cannot import " + options.input + ": " + problem;
        return 1;
    }

    // assimp's readers recurse as deep as a file nests and trust what it declares: they run in
    // a child process, so that whatever they do to their stack ends in a report here.
    std::fflush(nullptr);
    int fds[2];
    if (::pipe(fds) != 0) return importHere(options, error);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return importHere(options, error);
    }
    if (pid == 0) {
        ::close(fds[0]);
        std::string message;
        const int status = importHere(options, message);
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
    quiet = true;
    if (std::string problem = checkModelBytes(name, data, size); !problem.empty()) return problem;
    Assimp::Importer importer;
    auto* io = new GuardedIOSystem;
    const size_t dot = name.find_last_of('.');
    const std::string hint = dot == std::string::npos ? "" : name.substr(dot + 1);
    const aiScene* scene = prepare(importer, io).ReadFileFromMemory(data, size, kReadFlags, hint.c_str());
    if (!scene || !scene->mRootNode) return readFailure(importer, *io);
    TextureCopier textures(scene, ".", ".", "model", false, {}, false);
    Builder builder(scene, isGltf(name), textures);
    std::string error = builder.build(ImportOptions{}, out);
    std::vector<uint8_t> bytes;
    if (error.empty()) writeScene(out, bytes, &error);
    return error;
}

} // namespace sceneimport
