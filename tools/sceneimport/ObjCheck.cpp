#include "sceneimport/FormatChecks.h"
#include "sceneimport/ModelCheck.h"

#include "engine/SceneFile.h"

namespace sceneimport {

bool objLineEnd(char c) {
    return c == '\n' || c == '\r' || c == '\0' || c == '\f';
}

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::string ObjParts::feed(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const char c = p[i];
        if (objLineEnd(c)) {
            if (std::string problem = endLine(); !problem.empty()) return problem;
            if (c == '\n') ++line_;
            continue;
        }
        last_ = c;
        switch (state_) {
        case Indent:
            if (blank(c)) {
                indented_ = true;
                break;
            }
            state_ = FirstWord;
            [[fallthrough]];
        case FirstWord:
            if (blank(c))
                state_ = word_ == "o" ? BeforeName : Rest;
            else if (word_.size() < 8)
                word_ += c;
            break;
        case BeforeName:
            if (blank(c)) break;
            state_ = Name;
            named_ = true;
            name_ = 1469598103934665603ull;
            [[fallthrough]];
        case Name:
            if (!blank(c)) {
                name_ = (name_ ^ static_cast<uint8_t>(c)) * 1099511628211ull;
                break;
            }
            // A 'g' statement's name runs to the end of the line, blanks included.
            state_ = AfterName;
            [[fallthrough]];
        case AfterName:
            extra_ = true;
            break;
        case Rest:
            break;
        }
    }
    return "";
}

std::string ObjParts::finish() {
    return endLine();
}

std::string ObjParts::endLine() {
    const char first = word_.empty() ? 0 : word_[0];
    bool part = false;
    // assimp takes a line by its first byte: "offset" is an 'o' statement too.
    if (first == 'o' || first == 'g') {
        part = true;
        if (first == 'g' || indented_ || word_ != "o" || !named_ || extra_ || !names_.insert(name_).second)
            odd_ = true;
        else
            ++objects_;
    } else if (word_ == "usemtl") {
        // A material change after faces starts a new mesh.
        part = faces_;
    } else if (word_ == "f" || word_ == "l" || word_ == "p") {
        faces_ = true;
    }
    // A line continued on the next: the next one does not start a statement.
    if (last_ == '\\') odd_ = true;
    if (part) {
        faces_ = false;
        if (++parts_ > scenefile::MaxObjects)
            return "more than " + std::to_string(scenefile::MaxObjects) +
                   " objects and material changes ('o', 'g' and 'usemtl' statements, line " +
                   std::to_string(line_) + "); a scene holds at most " +
                   std::to_string(scenefile::MaxObjects) + " objects";
    }
    state_ = Indent;
    indented_ = extra_ = named_ = false;
    word_.clear();
    last_ = 0;
    return "";
}

void readObjectsAsGroups(char* p, size_t n, bool& lineStart) {
    for (size_t i = 0; i < n; ++i) {
        if (lineStart && p[i] == 'o') p[i] = 'g';
        lineStart = objLineEnd(p[i]);
    }
}

} // namespace sceneimport
