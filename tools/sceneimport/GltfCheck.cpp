#include "sceneimport/FormatChecks.h"
#include "sceneimport/ModelCheck.h"

#include "engine/SceneFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sceneimport {

namespace {

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

constexpr uint32_t kNone = UINT32_MAX;

// FNV-1a over a string's decoded bytes: glTF 1.0 names nodes by member names, and a reference
// must match its node however either is escaped.
struct Hash {
    uint64_t value = 1469598103934665603ull;
    void add(uint8_t b) { value = (value ^ b) * 1099511628211ull; }
};

// The node hierarchy as the scan finds it. glTF 2.0 refers to a node by its index, glTF 1.0 by
// its member name (kept as a hash): references are matched to nodes once the text is read.
struct NodeGraph {
    std::vector<uint64_t> ids;                        // per node: its index, or its name's hash
    std::vector<std::string> keys;                    // per node: the start of its member name (1.0)
    std::vector<std::string> names;                   // per node: the start of its "name"
    std::vector<std::pair<uint32_t, uint64_t>> edges; // parent node, child reference
    std::vector<std::pair<uint32_t, uint64_t>> roots; // scene, node reference
    // The first node a scene lists twice.
    uint32_t twiceScene = kNone;
    uint64_t twice = 0;
    bool byName = false;
};

// Reads JSON as it streams past, without recursion: checks that it is well-formed, at most
// kMaxJsonDepth deep, with numbers a double holds and strings the reader takes, and collects the
// node hierarchy: the children of each of the top-level "nodes" and the nodes each scene lists.
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

    NodeGraph graph;

  private:
    struct Level {
        bool object;
        std::string key;      // the member being read, in an object (its first 64 bytes)
        uint64_t keyHash = 0; // and all of it
        uint64_t count = 0;   // elements started so far, in an array
    };

    std::string broken(const std::string& what) {
        return problem_ = "broken JSON at line " + std::to_string(in_.line) + ", column " +
                          std::to_string(in_.column) + ": " + what;
    }
    bool fail(const std::string& what) {
        broken(what);
        return false;
    }
    bool refuse(const std::string& what) {
        problem_ = what;
        return false;
    }

    void skipSpace() {
        for (int c = in_.peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = in_.peek())
            in_.get();
    }

    // Inside the top-level member `name`, `depth` levels down.
    bool within(const char* name, size_t depth) const {
        return levels_.size() == depth && levels_[0].object && levels_[0].key == name;
    }
    // A value in the array `list` of one of the objects of the top-level `section`.
    bool inListOf(const char* section, const char* list) const {
        return within(section, 4) && levels_[2].object && levels_[2].key == list && !levels_[3].object;
    }

    bool key() {
        skipSpace();
        if (in_.peek() != '"') return fail("a member name in quotes expected");
        Level& level = levels_.back();
        level.key.clear();
        if (!string(&level.key, &level.keyHash)) return false;
        skipSpace();
        if (in_.get() != ':') return fail("':' expected after a member name");
        return true;
    }

    // A node or a scene object starts.
    bool opened() {
        if (within("scenes", 3)) {
            ++scene_;
            sceneRoots_.clear();
        }
        if (!within("nodes", 3)) return true;
        NodeGraph& g = graph;
        if (g.ids.size() >= scenefile::MaxObjects)
            return refuse("more than " + std::to_string(scenefile::MaxObjects) +
                          " nodes; a scene holds at most that many objects");
        g.byName = levels_[1].object;
        g.ids.push_back(g.byName ? levels_[1].keyHash : g.ids.size());
        g.keys.push_back(g.byName ? levels_[1].key : "");
        g.names.emplace_back();
        return true;
    }

    // A reference to a node (an index, or a name's hash) read as a value.
    bool reference(uint64_t ref) {
        NodeGraph& g = graph;
        if (inListOf("nodes", "children") && !g.ids.empty()) {
            if (g.edges.size() >= scenefile::MaxObjects)
                return refuse("more than " + std::to_string(scenefile::MaxObjects) +
                              " children among the nodes; a scene holds at most that many objects");
            g.edges.push_back({static_cast<uint32_t>(g.ids.size() - 1), ref});
        } else if (inListOf("scenes", "nodes") && scene_ > 0) {
            if (!sceneRoots_.insert(ref).second) {
                if (g.twiceScene == kNone) g.twiceScene = scene_ - 1, g.twice = ref;
                return true;
            }
            if (g.roots.size() >= 4 * scenefile::MaxObjects)
                return refuse("the scenes list more than " + std::to_string(4 * scenefile::MaxObjects) +
                              " nodes");
            g.roots.push_back({scene_ - 1, ref});
        }
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
            levels_.push_back({c == '{', {}, 0, 0});
            justOpened_ = true;
            return c == '[' || opened();
        }
        if (c == '"') {
            std::string text;
            uint64_t hash = 0;
            if (!string(&text, &hash)) return false;
            if (within("nodes", 3) && levels_[2].object && levels_[2].key == "name" && !graph.names.empty())
                graph.names.back() = text;
            return reference(hash);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return number();
        for (const char* word : {"true", "false", "null"})
            if (c == word[0]) {
                for (const char* w = word; *w; ++w)
                    if (in_.get() != *w) return fail(std::string("'") + word + "' misspelt");
                return true;
            }
        return fail(c < 0 ? "the text ends where a value was expected" : "a value expected");
    }

    // Four hexadecimal digits after "\u".
    bool hex4(uint32_t& code) {
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = in_.peek();
            if (h < 0 || !std::isxdigit(h)) return fail("\\u wants four hexadecimal digits");
            in_.get();
            code = code * 16 + static_cast<uint32_t>(std::isdigit(h) ? h - '0' : std::tolower(h) - 'a' + 10);
        }
        return true;
    }

    // A string: its first 64 bytes go to `into`, the hash of all of it to `hash`. The model
    // reader stops on a zero character and on half a surrogate pair, naming neither.
    bool string(std::string* into, uint64_t* hash) {
        in_.get();
        Hash h;
        for (;;) {
            const int c = in_.peek();
            if (c < 0) return fail("the text ends inside a string");
            if (c < 0x20) return fail("a control character inside a string");
            const size_t line = in_.line, column = in_.column;
            in_.get();
            if (c == '"') break;
            uint32_t code = static_cast<uint32_t>(c);
            if (c == '\\') {
                const int e = in_.peek();
                if (e < 0 || !std::strchr("\"\\/bfnrtu", e)) return fail("an unknown escape in a string");
                in_.get();
                static const char plain[] = "\"\\/bfnrt", meant[] = "\"\\/\b\f\n\r\t";
                if (e != 'u') {
                    code = static_cast<uint8_t>(meant[std::strchr(plain, e) - plain]);
                } else {
                    if (!hex4(code)) return false;
                    if (code == 0)
                        return refuse("a zero character (\\u0000) in a string at line " +
                                      std::to_string(line) + ", column " + std::to_string(column) +
                                      ": the model reader cannot take it");
                    if (code >= 0xDC00 && code <= 0xDFFF)
                        return fail("\\u" + hexOf(code) +
                                    " ends a surrogate pair that no \\uD800-\\uDBFF escape began");
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        uint32_t low = 0;
                        if (in_.get() != '\\' || in_.get() != 'u' || !hex4(low) || low < 0xDC00 ||
                            low > 0xDFFF)
                            return fail("\\u" + hexOf(code) +
                                        " begins a surrogate pair that no \\uDC00-\\uDFFF escape completes");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    std::string bytes;
                    appendUtf8(bytes, code);
                    for (char b : bytes)
                        h.add(static_cast<uint8_t>(b));
                    if (into && into->size() < 64) *into += bytes;
                    continue;
                }
            }
            h.add(static_cast<uint8_t>(code));
            if (into && into->size() < 64) *into += static_cast<char>(code);
        }
        if (hash) *hash = h.value;
        return true;
    }

    static std::string hexOf(uint32_t code) {
        char text[8];
        std::snprintf(text, sizeof text, "%04X", code);
        return text;
    }
    static void appendUtf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // A number. The reader stops, without a word, on one past the range of a double: its size
    // is worked out from its first digits and its power of ten, however many digits it has.
    bool number() {
        const size_t line = in_.line, column = in_.column;
        bool whole = true, negative = false;
        uint64_t v = 0;
        std::string significant; // its first significant digits: the value is 0.significant e power
        int64_t power = 0;
        auto take = [&](int d) {
            if (significant.size() < 24) significant += static_cast<char>('0' + d);
        };
        if (in_.peek() == '-') negative = true, in_.get();
        if (in_.peek() == '0') {
            in_.get();
        } else {
            if (!std::isdigit(in_.peek())) return fail("a digit expected in a number");
            while (std::isdigit(in_.peek())) {
                const int d = in_.get() - '0';
                take(d);
                ++power;
                v = v > (UINT64_MAX - 9) / 10 ? UINT64_MAX : v * 10 + static_cast<uint64_t>(d);
            }
        }
        if (in_.peek() == '.') {
            in_.get();
            whole = false;
            if (!std::isdigit(in_.peek())) return fail("a digit expected in a number");
            while (std::isdigit(in_.peek())) {
                const int d = in_.get() - '0';
                if (significant.empty() && d == 0)
                    --power;
                else
                    take(d);
            }
        }
        if (in_.peek() == 'e' || in_.peek() == 'E') {
            in_.get();
            whole = false;
            bool down = false;
            if (in_.peek() == '+' || in_.peek() == '-') down = in_.get() == '-';
            if (!std::isdigit(in_.peek())) return fail("a digit expected in a number");
            int64_t exponent = 0;
            while (std::isdigit(in_.peek()))
                exponent = std::min<int64_t>(INT32_MAX, exponent * 10 + (in_.get() - '0'));
            power += down ? -exponent : exponent;
        }
        if (!significant.empty()) {
            const int64_t clamped = std::max<int64_t>(-100000, std::min<int64_t>(100000, power));
            const std::string text = "0." + significant + "e" + std::to_string(clamped);
            if (std::isinf(std::strtod(text.c_str(), nullptr)))
                return refuse("a number too large for a double (" + std::to_string(in_.column - column) +
                              " characters long) at line " + std::to_string(line) + ", column " +
                              std::to_string(column));
        }
        if (whole && !negative) return reference(v);
        return true;
    }

    Source& in_;
    std::vector<Level> levels_;
    bool justOpened_ = false;
    std::string problem_;
    uint32_t scene_ = 0; // scenes started so far
    std::unordered_set<uint64_t> sceneRoots_;
};

// How a message names node `i`.
std::string label(const NodeGraph& g, uint32_t i) {
    std::string out = g.byName ? "node \"" + g.keys[i] + "\"" : "node " + std::to_string(i);
    if (!g.names[i].empty() && (!g.byName || g.names[i] != g.keys[i])) out += " (\"" + g.names[i] + "\")";
    return out;
}

// glTF nodes form trees: every node is reached once, from one parent or as one of a scene's
// roots, and none is its own ancestor. assimp copies a node for each way it is reached, so a
// shared one costs time and memory that double with every level. Refuses those, and trees
// deeper than a scene may be, naming the node.
std::string checkNodes(const NodeGraph& g) {
    const uint32_t n = static_cast<uint32_t>(g.ids.size());
    std::unordered_map<uint64_t, uint32_t> byId;
    if (g.byName)
        for (uint32_t i = 0; i < n; ++i)
            byId.emplace(g.ids[i], i);
    auto resolve = [&](uint64_t ref) -> uint32_t {
        if (!g.byName) return ref < n ? static_cast<uint32_t>(ref) : kNone;
        auto found = byId.find(ref);
        return found == byId.end() ? kNone : found->second;
    };

    // Children by parent: the edges come in node order.
    std::vector<uint32_t> first(n + 1, 0), child, parents(n, 0), parentOf(n, kNone), otherParent(n, kNone);
    for (const auto& [parent, ref] : g.edges) {
        const uint32_t c = resolve(ref);
        if (c == kNone) continue;
        ++first[parent + 1];
        child.push_back(c);
        if (parents[c]++ == 0)
            parentOf[c] = parent;
        else if (otherParent[c] == kNone)
            otherParent[c] = parent;
    }
    for (uint32_t i = 0; i < n; ++i)
        first[i + 1] += first[i];

    // Parents before children, counting levels; what is left over lies in or below a loop.
    std::vector<uint32_t> waiting(parents), depth(n, 1), ready;
    for (uint32_t i = 0; i < n; ++i)
        if (waiting[i] == 0) ready.push_back(i);
    std::string tooDeep;
    for (size_t at = 0; at < ready.size(); ++at) {
        const uint32_t i = ready[at];
        if (depth[i] > scenefile::MaxNestingDepth && tooDeep.empty())
            tooDeep = label(g, i) + " is nested " + std::to_string(depth[i]) + " deep, more than " +
                      std::to_string(scenefile::MaxNestingDepth);
        for (uint32_t k = first[i]; k < first[i + 1]; ++k) {
            const uint32_t c = child[k];
            depth[c] = std::max(depth[c], depth[i] + 1);
            if (--waiting[c] == 0) ready.push_back(c);
        }
    }
    if (ready.size() < n) {
        // Every node left over has a parent left over: going up from one ends in the loop.
        std::vector<uint32_t> up(n, kNone);
        for (uint32_t p = 0; p < n; ++p)
            for (uint32_t k = first[p]; k < first[p + 1]; ++k)
                if (waiting[p] && waiting[child[k]]) up[child[k]] = p;
        uint32_t i = 0;
        while (!waiting[i])
            ++i;
        std::vector<bool> seen(n, false);
        while (!seen[i])
            seen[i] = true, i = up[i];
        return label(g, i) + " is its own ancestor (the node hierarchy has a loop)";
    }

    const std::string rule = "; glTF nodes form trees, each node reached once";
    for (uint32_t c = 0; c < n; ++c) {
        if (parents[c] < 2) continue;
        if (otherParent[c] == kNone)
            return label(g, c) + " is reached twice: " + label(g, parentOf[c]) +
                   " lists it twice among its children" + rule;
        return label(g, c) + " is reached twice, as a child of " + label(g, parentOf[c]) + " and of " +
               label(g, otherParent[c]) + rule;
    }
    if (g.twiceScene != kNone && resolve(g.twice) != kNone)
        return label(g, resolve(g.twice)) + " is reached twice: scene " + std::to_string(g.twiceScene) +
               " lists it more than once" + rule;
    for (const auto& [scene, ref] : g.roots) {
        const uint32_t c = resolve(ref);
        if (c != kNone && parents[c])
            return label(g, c) + " is reached twice, as a root of scene " + std::to_string(scene) +
                   " and as a child of " + label(g, parentOf[c]) + rule;
    }
    return tooDeep;
}

} // namespace

std::string checkJson(Source& in) {
    JsonScan scan(in);
    const std::string problem = scan.run();
    return problem.empty() ? checkNodes(scan.graph) : problem;
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
