#include "sceneimport/FormatChecks.h"
#include "sceneimport/ModelCheck.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <vector>

namespace sceneimport {

namespace {

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads JSON as it streams past, without recursion: checks that it is well-formed and at most
// kMaxJsonDepth deep, and collects the children lists of the top-level "nodes".
class JsonScan {
  public:
    explicit JsonScan(Source& in) : in_(in) {}

    // "" or the reason the text is refused.
    std::string run() {
        if (!value()) return problem_;
        for (;;) {
            skipSpace();
            if (levels_.empty()) return in_.peek() < 0 ? "" : broken("text after the end of the document");
            const bool object = levels_.back().object;
            const int c = in_.peek();
            const bool first = justOpened_;
            justOpened_ = false;
            if (c == (object ? '}' : ']')) {
                in_.get();
                levels_.pop_back();
                continue;
            }
            if (!first) {
                if (c != ',') return broken(object ? "',' or '}' expected" : "',' or ']' expected");
                in_.get();
            }
            if ((object && !key()) || !value()) return problem_;
        }
    }

    std::vector<std::vector<uint64_t>> children; // per node

  private:
    struct Level {
        bool object;
        std::string key;    // the member being read, in an object (only short keys matter)
        uint64_t count = 0; // elements started so far, in an array
    };

    std::string broken(const std::string& what) {
        return problem_ = "broken JSON at line " + std::to_string(in_.line) + ", column " +
                          std::to_string(in_.column) + ": " + what;
    }
    bool fail(const std::string& what) {
        broken(what);
        return false;
    }

    void skipSpace() {
        for (int c = in_.peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = in_.peek())
            in_.get();
    }

    bool inNodes() const { return levels_[0].object && levels_[0].key == "nodes" && !levels_[1].object; }

    bool key() {
        skipSpace();
        if (in_.peek() != '"') return fail("a member name in quotes expected");
        std::string name;
        if (!string(&name)) return false;
        levels_.back().key = name;
        skipSpace();
        if (in_.get() != ':') return fail("':' expected after a member name");
        return true;
    }

    bool value() {
        skipSpace();
        if (!levels_.empty() && !levels_.back().object) ++levels_.back().count;
        const int c = in_.peek();
        if (c == '{' || c == '[') {
            if (levels_.size() >= kMaxJsonDepth) {
                problem_ = "JSON nested more than " + std::to_string(kMaxJsonDepth) + " levels deep";
                return false;
            }
            in_.get();
            levels_.push_back({c == '{', {}, 0});
            if (levels_.size() == 3 && c == '{' && inNodes()) children.emplace_back();
            justOpened_ = true;
            return true;
        }
        if (c == '"') return string(nullptr);
        if (c == '-' || (c >= '0' && c <= '9')) return number();
        for (const char* word : {"true", "false", "null"})
            if (c == word[0]) {
                for (const char* w = word; *w; ++w)
                    if (in_.get() != *w) return fail(std::string("'") + word + "' misspelt");
                return true;
            }
        return fail(c < 0 ? "the text ends where a value was expected" : "a value expected");
    }

    // A string; its first 64 bytes go to `into` when given.
    bool string(std::string* into) {
        in_.get();
        for (;;) {
            const int c = in_.peek();
            if (c < 0) return fail("the text ends inside a string");
            if (c < 0x20) return fail("a control character inside a string");
            in_.get();
            if (c == '"') return true;
            if (c == '\\') {
                const int e = in_.peek();
                if (e < 0 || !std::strchr("\"\\/bfnrtu", e)) return fail("an unknown escape in a string");
                in_.get();
                if (e == 'u')
                    for (int i = 0; i < 4; ++i) {
                        if (!std::isxdigit(in_.peek())) return fail("\\u wants four hexadecimal digits");
                        in_.get();
                    }
                continue;
            }
            if (into && into->size() < 64) *into += static_cast<char>(c);
        }
    }

    bool digits() {
        if (!std::isdigit(in_.peek())) return fail("a digit expected in a number");
        while (std::isdigit(in_.peek()))
            in_.get();
        return true;
    }

    bool number() {
        bool whole = true, negative = false;
        uint64_t v = 0;
        if (in_.peek() == '-') negative = true, in_.get();
        if (in_.peek() == '0') {
            in_.get();
        } else {
            if (!std::isdigit(in_.peek())) return fail("a digit expected in a number");
            while (std::isdigit(in_.peek())) {
                const int d = in_.get() - '0';
                v = v > (UINT64_MAX - 9) / 10 ? UINT64_MAX : v * 10 + static_cast<uint64_t>(d);
            }
        }
        if (in_.peek() == '.') {
            in_.get();
            whole = false;
            if (!digits()) return false;
        }
        if (in_.peek() == 'e' || in_.peek() == 'E') {
            in_.get();
            whole = false;
            if (in_.peek() == '+' || in_.peek() == '-') in_.get();
            if (!digits()) return false;
        }
        // A number inside nodes[i].children.
        if (whole && !negative && levels_.size() == 4 && inNodes() && levels_[2].object &&
            levels_[2].key == "children" && !levels_[3].object)
            children.back().push_back(v);
        return true;
    }

    Source& in_;
    std::vector<Level> levels_;
    bool justOpened_ = false;
    std::string problem_;
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

} // namespace

std::string checkJson(Source& in) {
    JsonScan scan(in);
    const std::string problem = scan.run();
    return problem.empty() ? checkNodeDepth(scan.children) : problem;
}

std::string checkGlb(uint64_t size, const std::function<bool(uint64_t, uint64_t, uint8_t*)>& read) {
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
    Source in(json.data(), json.size());
    return checkJson(in);
}

} // namespace sceneimport
