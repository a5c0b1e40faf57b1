#include "ModelCheck.h"

#include <rapidjson/error/en.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace sceneimport {

namespace {

std::string lowerEnding(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    std::string out = dot == std::string::npos ? "" : name.substr(dot + 1);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A byte stream that knows the line it is on, so that a JSON error can name line and column.
template <typename Stream> class LineCounting {
  public:
    using Ch = char;
    explicit LineCounting(Stream& s) : s_(s) {}
    Ch Peek() const { return s_.Peek(); }
    Ch Take() {
        const Ch c = s_.Take();
        if (c == '\n') ++line, lineStart = s_.Tell();
        return c;
    }
    size_t Tell() const { return s_.Tell(); }
    // Never written to; the reader's interface asks for these.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    size_t PutEnd(Ch*) { return 0; }

    size_t line = 1, lineStart = 0;

  private:
    Stream& s_;
};

// Follows the JSON as it streams past: its depth, and the children lists of "nodes".
class GltfHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, GltfHandler> {
  public:
    std::string problem;
    std::vector<std::vector<uint64_t>> children; // per node

    bool Default() { return value(); }
    bool Uint(unsigned v) { return index(v); }
    bool Int(int v) { return v >= 0 ? index(static_cast<uint64_t>(v)) : value(); }
    bool Uint64(uint64_t v) { return index(v); }
    bool Int64(int64_t v) { return v >= 0 ? index(static_cast<uint64_t>(v)) : value(); }
    bool StartObject() { return open(true); }
    bool StartArray() { return open(false); }
    bool EndObject(rapidjson::SizeType) { return close(); }
    bool EndArray(rapidjson::SizeType) { return close(); }
    bool Key(const char* s, rapidjson::SizeType length, bool) {
        levels_.back().key.assign(s, length);
        return true;
    }

  private:
    struct Level {
        bool object;
        std::string key;    // the member being read, in an object
        uint64_t count = 0; // elements started so far, in an array
    };

    bool value() {
        if (!levels_.empty() && !levels_.back().object) ++levels_.back().count;
        return true;
    }
    // A number inside nodes[i].children.
    bool index(uint64_t v) {
        value();
        if (levels_.size() == 4 && inNodes() && levels_[2].object && levels_[2].key == "children" &&
            !levels_[3].object)
            children.back().push_back(v);
        return true;
    }
    bool inNodes() const { return levels_[0].object && levels_[0].key == "nodes" && !levels_[1].object; }
    bool open(bool object) {
        value();
        if (levels_.size() >= kMaxJsonDepth) {
            problem = "JSON nested more than " + std::to_string(kMaxJsonDepth) + " levels deep";
            return false;
        }
        levels_.push_back({object, {}, 0});
        if (levels_.size() == 3 && object && inNodes()) children.emplace_back();
        return true;
    }
    bool close() {
        levels_.pop_back();
        return true;
    }

    std::vector<Level> levels_;
};

// The longest chain of parent and child among the nodes, walked without recursion; a node that
// is its own ancestor is a problem of its own.
std::string checkNodeDepth(const std::vector<std::vector<uint64_t>>& children) {
    const size_t n = children.size();
    std::vector<size_t> parents(n, 0), depth(n, 1);
    for (const auto& list : children)
        for (uint64_t c : list)
            if (c < n) ++parents[c];
    std::deque<size_t> ready;
    for (size_t i = 0; i < n; ++i)
        if (parents[i] == 0) ready.push_back(i);
    size_t done = 0, deepest = 0;
    while (!ready.empty()) {
        const size_t i = ready.front();
        ready.pop_front();
        ++done;
        deepest = std::max(deepest, depth[i]);
        if (deepest > kMaxNodeDepth)
            return "nodes nested more than " + std::to_string(kMaxNodeDepth) + " levels deep";
        for (uint64_t c : children[i]) {
            if (c >= n) continue;
            depth[c] = std::max(depth[c], depth[i] + 1);
            if (--parents[c] == 0) ready.push_back(c);
        }
    }
    if (done < n) return "a node is its own ancestor (the node hierarchy has a loop)";
    return "";
}

template <typename Stream> std::string checkJson(Stream& stream) {
    LineCounting<Stream> counted(stream);
    GltfHandler handler;
    rapidjson::Reader reader;
    const rapidjson::ParseResult result = reader.Parse<rapidjson::kParseIterativeFlag>(counted, handler);
    if (!handler.problem.empty()) return handler.problem;
    if (result.IsError()) {
        const size_t column =
            result.Offset() >= counted.lineStart ? result.Offset() - counted.lineStart + 1 : 1;
        return "broken JSON at line " + std::to_string(counted.line) + ", column " + std::to_string(column) +
               ": " + rapidjson::GetParseError_En(result.Code());
    }
    return checkNodeDepth(handler.children);
}

// Brace depth of an ASCII FBX file, skipping quoted strings and ';' comments.
class FbxDepth {
  public:
    std::string feed(const char* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const char c = p[i];
            if (c == '\n') ++line_, comment_ = false;
            if (comment_) continue;
            if (quoted_) {
                quoted_ = c != '"';
                continue;
            }
            if (c == '"') quoted_ = true;
            if (c == ';') comment_ = true;
            if (c == '}' && depth_ > 0) --depth_;
            if (c == '{' && ++depth_ > kMaxFbxDepth)
                return "braces nested more than " + std::to_string(kMaxFbxDepth) + " levels deep (line " +
                       std::to_string(line_) + ")";
        }
        return "";
    }

  private:
    size_t depth_ = 0, line_ = 1;
    bool quoted_ = false, comment_ = false;
};

// The binary glTF container: its declared lengths against the real size, then its JSON chunk.
// `read(offset, size, into)` fetches bytes of the container.
template <typename Read> std::string checkGlb(uint64_t size, Read read) {
    uint8_t head[20] = {};
    if (size < 12 || !read(0, 12, head)) return "a binary glTF shorter than its 12-byte header";
    const uint32_t version = le32(head + 4), declared = le32(head + 8);
    if (declared != size)
        return "the binary glTF declares " + std::to_string(declared) + " bytes but holds " +
               std::to_string(size);
    if (version != 1 && version != 2)
        return "binary glTF version " + std::to_string(version) + " is not known";
    if (size < 20 || !read(12, 8, head + 12)) return "the binary glTF has no JSON chunk";
    const uint64_t jsonLength = le32(head + 12);
    const uint32_t jsonType = le32(head + 16);
    if ((version == 2 && jsonType != 0x4E4F534Au) || (version == 1 && jsonType != 0))
        return "the binary glTF's first chunk is not JSON";
    if (jsonLength > size - 20)
        return "the binary glTF's JSON chunk of " + std::to_string(jsonLength) + " bytes runs past its end";
    std::string json(static_cast<size_t>(jsonLength), '\0');
    if (!read(20, jsonLength, reinterpret_cast<uint8_t*>(json.data()))) return "cannot read the JSON chunk";
    rapidjson::MemoryStream stream(json.data(), json.size());
    return checkJson(stream);
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

} // namespace

ModelKind modelKind(const std::string& name, const uint8_t* head, size_t headSize) {
    if (headSize >= 4 && std::memcmp(head, "glTF", 4) == 0) return ModelKind::GltfBinary;
    const std::string ending = lowerEnding(name);
    if (ending == "gltf") return ModelKind::GltfText;
    if (ending == "fbx" && !(headSize >= 18 && std::memcmp(head, "Kaydara FBX Binary", 18) == 0))
        return ModelKind::FbxText;
    return ModelKind::Other;
}

std::string checkModelFile(const std::string& path) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    struct stat st;
    if (!file || ::fstat(fileno(file.get()), &st) != 0) return "cannot open it";
    uint8_t head[18] = {};
    const size_t got = std::fread(head, 1, sizeof head, file.get());
    std::rewind(file.get());
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    switch (modelKind(path, head, got)) {
    case ModelKind::GltfBinary:
        return checkGlb(size, [&](uint64_t offset, uint64_t n, uint8_t* into) {
            return std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) == 0 &&
                   std::fread(into, 1, n, file.get()) == n;
        });
    case ModelKind::GltfText: {
        char buffer[65536];
        rapidjson::FileReadStream stream(file.get(), buffer, sizeof buffer);
        return checkJson(stream);
    }
    case ModelKind::FbxText: {
        FbxDepth depth;
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
            if (std::string problem = depth.feed(buffer, n); !problem.empty()) return problem;
        return "";
    }
    case ModelKind::Other:
        break;
    }
    return "";
}

std::string checkModelBytes(const std::string& name, const uint8_t* data, size_t size) {
    switch (modelKind(name, data, size)) {
    case ModelKind::GltfBinary:
        return checkGlb(size, [&](uint64_t offset, uint64_t n, uint8_t* into) {
            if (offset > size || n > size - offset) return false;
            std::memcpy(into, data + offset, static_cast<size_t>(n));
            return true;
        });
    case ModelKind::GltfText: {
        rapidjson::MemoryStream stream(reinterpret_cast<const char*>(data), size);
        return checkJson(stream);
    }
    case ModelKind::FbxText:
        return FbxDepth().feed(reinterpret_cast<const char*>(data), size);
    case ModelKind::Other:
        break;
    }
    return "";
}

} // namespace sceneimport
