#include "sceneimport/ImportFiles.h"

#include "platform/ReplacingFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace sceneimport {

namespace {

int warnings = 0;
bool quiet = false;

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

// A path's folders, with "." left out and ".." taken back where it can be.
std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    for (size_t from = 0; from <= path.size();) {
        size_t to = path.find('/', from);
        if (to == std::string::npos) to = path.size();
        const std::string part = path.substr(from, to - from);
        if (part == ".." && !out.empty() && out.back() != "..")
            out.pop_back();
        else if (!part.empty() && part != ".")
            out.push_back(part);
        from = to + 1;
    }
    return out;
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char* here = ::getcwd(nullptr, 0);
    const std::string out = here ? std::string(here) + "/" + path : path;
    std::free(here);
    return out;
}

// The demo folder whose data/scenes/ holds `folder`, lexically; "" when there is none.
std::string demoHolding(const std::string& folder) {
    const std::vector<std::string> parts = components(folder);
    for (size_t i = parts.size(); i-- > 1;) {
        if (parts[i] != "scenes" || parts[i - 1] != "data") continue;
        std::string demo = folder[0] == '/' ? "/" : "";
        for (size_t k = 0; k + 1 < i; ++k)
            demo += parts[k] + (k + 2 < i ? "/" : "");
        return demo.empty() ? "." : demo;
    }
    return "";
}

bool samePlace(const std::string& a, const std::string& b) {
    FileId x, y;
    if (fileId(a, x) && fileId(b, y)) return !(x < y) && !(y < x);
    return components(absolute(a)) == components(absolute(b));
}

} // namespace

TexturePlace texturePlace(const std::string& output, const std::string& chosen) {
    const std::string folder = directoryOf(output);
    std::string demo = demoHolding(folder);
    if (demo.empty() && folder[0] != '/') demo = demoHolding(absolute(folder));
    TexturePlace place;
    if (!demo.empty()) place.playerFolder = demo == "." ? "data/textures" : demo + "/data/textures";
    place.folder = !chosen.empty() ? chosen : !demo.empty() ? place.playerFolder : folder;
    place.playerLooksThere = demo.empty() || samePlace(place.folder, place.playerFolder);
    return place;
}

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

int warningCount() {
    return warnings;
}

void setQuiet(bool on) {
    quiet = on;
}

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

ImageKind imageKind(const uint8_t* p, size_t n) {
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (n >= 8 && std::equal(png, png + 8, p)) return ImageKind::Png;
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return ImageKind::Jpeg;
    return ImageKind::Unknown;
}

namespace {

// A picture's header, its bytes fetched by `read(offset, into, n)` from a file of `size` bytes.
template <typename Read> PictureHeader parsePictureHeader(uint64_t size, Read read) {
    PictureHeader h;
    uint8_t b[24];
    if (!read(0, b, 3)) return h;
    const bool png = read(0, b, 24) && imageKind(b, 24) == ImageKind::Png;
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
        if (!read(at, b, 4) || b[0] != 0xFF) break;
        if (b[1] == 0xFF) { // fill byte
            ++at;
            continue;
        }
        const uint8_t marker = b[1];
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && read(at + 4, b + 4, 5)) {
            h.height = be16(b + 5);
            h.width = be16(b + 7);
            break;
        }
        at += 2 + be16(b + 2);
    }
    return h;
}

} // namespace

PictureHeader readPictureHeader(const std::string& path, uint64_t size) {
    std::ifstream in(path, std::ios::binary);
    return parsePictureHeader(size,
                              [&](uint64_t at, uint8_t* into, size_t n) { return readAt(in, at, into, n); });
}

PictureHeader pictureHeader(const uint8_t* p, size_t size) {
    return parsePictureHeader(size, [&](uint64_t at, uint8_t* into, size_t n) {
        if (at > size || n > size - at) return false;
        std::memcpy(into, p + at, n);
        return true;
    });
}

} // namespace sceneimport
