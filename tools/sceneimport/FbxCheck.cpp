#include "sceneimport/FormatChecks.h"
#include "sceneimport/ModelCheck.h"

namespace sceneimport {

std::string FbxDepth::feed(const char* p, size_t n) {
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

} // namespace sceneimport
