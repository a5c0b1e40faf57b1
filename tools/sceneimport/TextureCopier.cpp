#include "sceneimport/TextureCopier.h"

#include "base/Report.h"
#include "engine/SceneWriter.h"
#include "resources/ImageLibrary.h"
#include "resources/PngWriter.h"

#include <assimp/scene.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sceneimport {

using scenefile::writeBytesToFile;

namespace {

// While one lives, the engine's reports (the decoder's, which name its temporary file and its
// own source line) are kept instead of printed: the import says what went wrong in its words.
class KeptReports {
  public:
    KeptReports() : sink_(report::setSink(&keep)), echo_(report::setEcho(false)) { first().clear(); }
    ~KeptReports() {
        report::setSink(sink_);
        report::setEcho(echo_);
    }
    KeptReports(const KeptReports&) = delete;
    KeptReports& operator=(const KeptReports&) = delete;

    // The first report's message, without the reporting source line, with `path` called `name`.
    static std::string reason(const std::string& path, const std::string& name) {
        std::string text = first();
        const size_t space = text.find(' ');
        if (space != std::string::npos) text = text.substr(space + 1);
        for (size_t at; !path.empty() && (at = text.find(path)) != std::string::npos;)
            text.replace(at, path.size(), name);
        return text;
    }

  private:
    static std::string& first() {
        static std::string text;
        return text;
    }
    static void keep(const report::Record& r) {
        if (first().empty()) first() = r.text;
    }

    report::Sink sink_;
    bool echo_;
};

} // namespace

TextureCopier::TextureCopier(const aiScene* scene, std::string inputDir, std::string outputDir,
                             std::string outputStem, bool allowOutside, std::set<FileId> inputs, bool write)
    : scene_(scene), inputDir_(std::move(inputDir)), outputDir_(std::move(outputDir)),
      outputStem_(std::move(outputStem)), allowOutside_(allowOutside), inputs_(std::move(inputs)),
      write_(write) {
    realInputDir_ = canonical(inputDir_);
}

TextureCopier::~TextureCopier() {
    rollback();
}

// Empty when the texture cannot be carried (a warning says why, or error() is set).
std::string TextureCopier::place(const std::string& reference) {
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

size_t TextureCopier::count() const {
    std::set<std::string> names;
    for (const auto& entry : placed_)
        if (!entry.second.empty()) names.insert(entry.second);
    return names.size();
}

// Gives every texture its final name; false, with the reason, when one cannot take it.
bool TextureCopier::commit(std::string& error) {
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

void TextureCopier::rollback() {
    for (const Staged& s : staged_)
        if (!s.temporary.empty()) std::remove(s.temporary.c_str());
    staged_.clear();
}

std::string TextureCopier::uniqueName(const std::string& stem, const std::string& extension) {
    std::string base = plainName(stem);
    std::string name = base + extension;
    for (int n = 2; used_.count(lower(name)); ++n)
        name = base + "_" + std::to_string(n) + extension;
    used_.insert(lower(name));
    return name;
}

std::string TextureCopier::temporaryFor(const std::string& name) const {
    return outputDir_ + "/." + name + "." + std::to_string(::getpid()) + ".part";
}

bool TextureCopier::fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    return false;
}

// Checks the texture's final place and makes its temporary file with `bytes` (or, when
// `bytes` is null, leaves the temporary name for the caller to write).
bool TextureCopier::stage(const std::string& name, const std::vector<uint8_t>* bytes) {
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

void TextureCopier::unstage(const std::string& name) {
    for (auto s = staged_.begin(); s != staged_.end(); ++s)
        if (s->name == name) {
            std::remove(s->temporary.c_str());
            staged_.erase(s);
            return;
        }
}

// A texture that would land on one of the model's own files: true when it is that very
// picture, which then stays as it is; error() is set when it is another.
bool TextureCopier::keepsInput(const std::string& name, const std::vector<uint8_t>& bytes) {
    FileId id;
    if (!fileId(outputDir_ + "/" + name, id) || !inputs_.count(id)) return false;
    std::vector<uint8_t> before;
    if (readBytes(outputDir_ + "/" + name, before) && before == bytes) return true;
    return fail("texture " + outputDir_ + "/" + name +
                " would replace one of the model's own files; give --textures another folder");
}

// PNG and JPEG go over byte for byte once the engine's decoder has read them; the decoder
// picks by the name's ending, so the name gets the ending of what the bytes are.
std::string TextureCopier::placeEncoded(const std::vector<uint8_t>& bytes, const std::string& stem,
                                        const std::string& what) {
    ImageKind kind = imageKind(bytes.data(), bytes.size());
    if (kind == ImageKind::Unknown) {
        warn("texture %s is neither PNG nor JPEG: not carried over", what.c_str());
        return "";
    }
    if (!sizeFits(pictureHeader(bytes.data(), bytes.size()), what)) return "";
    std::string name = uniqueName(stem, kind == ImageKind::Png ? ".png" : ".jpg");
    const std::string path = temporaryFor(name);
    const bool kept = keepsInput(name, bytes);
    if (!error_.empty()) return "";
    if (!kept && !stage(name, &bytes)) return "";
    const std::string readFrom = kept ? outputDir_ + "/" + name : path;
    ImageData* image = nullptr;
    std::string reason;
    {
        KeptReports reports;
        image = kind == ImageKind::Png ? ImageLibrary::instance().loadPNG(readFrom.c_str())
                                       : ImageLibrary::instance().loadJPEG(readFrom.c_str());
        if (!image) reason = KeptReports::reason(readFrom, what);
    }
    if (!image) {
        if (reason.empty())
            warn("texture %s cannot be decoded: not carried over", what.c_str());
        else
            warn("texture %s cannot be decoded (%s): not carried over", what.c_str(), reason.c_str());
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

bool TextureCopier::rewritePng(const std::vector<uint8_t>& bytes, const std::string& path) {
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

bool TextureCopier::writeGreyAsRgb(const ImageData& image, const std::string& path) {
    std::vector<unsigned char> rgb;
    rgb.reserve(static_cast<size_t>(image.width) * image.height * 3);
    for (size_t i = 0; i < static_cast<size_t>(image.width) * image.height; ++i)
        rgb.insert(rgb.end(), {image.data[i], image.data[i], image.data[i]});
    return writeRgbPng(path, static_cast<int>(image.width), static_cast<int>(image.height), rgb.data(), false,
                       false);
}

bool TextureCopier::sizeFits(const PictureHeader& h, const std::string& what) {
    if (h.width > 0 && h.height > 0 && h.width <= kMaxImageSide && h.height <= kMaxImageSide) return true;
    warn("texture %s is %ux%u pixels; the player takes 1 to %u a side: not carried over", what.c_str(),
         h.width, h.height, kMaxImageSide);
    return false;
}

// Reads a texture file once its header says it is a picture of a size the player takes.
bool TextureCopier::readPicture(const std::string& path, const std::string& what,
                                std::vector<uint8_t>& bytes) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const PictureHeader h = readPictureHeader(path, size);
    if (h.kind == ImageKind::Unknown) {
        warn("texture %s is neither PNG nor JPEG: not carried over", what.c_str());
        return false;
    }
    if (!sizeFits(h, what)) return false;
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

std::string TextureCopier::placeFile(const std::string& reference) {
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

std::string TextureCopier::placeEmbedded(const aiTexture* texture, int index) {
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

} // namespace sceneimport
