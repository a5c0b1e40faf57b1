#include "sceneimport/ModelCheck.h"

#include "sceneimport/FormatChecks.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

namespace sceneimport {

namespace {

std::string lowerEnding(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    std::string out = dot == std::string::npos ? "" : name.substr(dot + 1);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// A check fed the whole file in pieces.
template <typename Check> std::string feedAll(Check& check, FILE* file) {
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        if (std::string problem = check.feed(buffer, n); !problem.empty()) return problem;
    return "";
}

std::string checkObj(ObjParts& parts, ModelFacts& facts, const std::string& problem) {
    const std::string last = problem.empty() ? parts.finish() : problem;
    facts.objectsAsGroups = last.empty() && parts.objectsAsGroups();
    return last;
}

} // namespace

ModelKind modelKind(const std::string& name, const uint8_t* head, size_t headSize) {
    if (headSize >= 4 && std::memcmp(head, "glTF", 4) == 0) return ModelKind::GltfBinary;
    const std::string ending = lowerEnding(name);
    if (ending == "gltf") return ModelKind::GltfText;
    if (ending == "obj") return ModelKind::Obj;
    if (ending == "fbx" && !(headSize >= 18 && std::memcmp(head, "Kaydara FBX Binary", 18) == 0))
        return ModelKind::FbxText;
    return ModelKind::Other;
}

std::string checkModelFile(const std::string& path, ModelFacts& facts) {
    facts = {};
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
        Source in(file.get());
        return checkJson(in);
    }
    case ModelKind::FbxText: {
        FbxDepth depth;
        return feedAll(depth, file.get());
    }
    case ModelKind::Obj: {
        ObjParts parts;
        return checkObj(parts, facts, feedAll(parts, file.get()));
    }
    case ModelKind::Other:
        break;
    }
    return "";
}

std::string checkModelBytes(const std::string& name, const uint8_t* data, size_t size, ModelFacts& facts) {
    facts = {};
    switch (modelKind(name, data, size)) {
    case ModelKind::GltfBinary:
        return checkGlb(size, [&](uint64_t offset, uint64_t n, uint8_t* into) {
            if (offset > size || n > size - offset) return false;
            std::memcpy(into, data + offset, static_cast<size_t>(n));
            return true;
        });
    case ModelKind::GltfText: {
        Source in(reinterpret_cast<const char*>(data), size);
        return checkJson(in);
    }
    case ModelKind::FbxText:
        return FbxDepth().feed(reinterpret_cast<const char*>(data), size);
    case ModelKind::Obj: {
        ObjParts parts;
        return checkObj(parts, facts, parts.feed(reinterpret_cast<const char*>(data), size));
    }
    case ModelKind::Other:
        break;
    }
    return "";
}

} // namespace sceneimport
