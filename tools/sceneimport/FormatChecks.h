// The checks of ModelCheck.h by format: glTF's JSON and binary container (GltfCheck.cpp), an
// ASCII FBX file's nesting (FbxCheck.cpp), an OBJ file's objects (ObjCheck.cpp), all read as a
// stream from a file or from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <unordered_set>

namespace sceneimport {

// Bytes from a file or from memory, one at a time, with the line and column of the next one.
class Source {
  public:
    Source(const char* data, size_t size) : p_(data), end_(data + size) {}
    explicit Source(FILE* file) : file_(file) {}

    // -1 at the end.
    int peek() {
        if (p_ == end_ && !refill()) return -1;
        return static_cast<unsigned char>(*p_);
    }
    int get() {
        const int c = peek();
        if (c < 0) return c;
        ++p_;
        if (c == '\n')
            ++line, column = 1;
        else
            ++column;
        return c;
    }

    size_t line = 1, column = 1;

  private:
    bool refill() {
        if (!file_) return false;
        const size_t n = std::fread(buffer_, 1, sizeof buffer_, file_);
        p_ = buffer_;
        end_ = buffer_ + n;
        return n > 0;
    }

    const char* p_ = nullptr;
    const char* end_ = nullptr;
    FILE* file_ = nullptr;
    char buffer_[65536];
};

// "" or the reason a glTF document (JSON text) is refused: malformed, too deep, or nodes that
// nest too deep or loop.
std::string checkJson(Source& in);

// The binary glTF container: its declared lengths against the real size, then its JSON chunk.
// `read(offset, size, into)` fetches bytes of the container.
std::string checkGlb(uint64_t size, const std::function<bool(uint64_t, uint64_t, uint8_t*)>& read);

// Brace depth of an ASCII FBX file, skipping quoted strings and ';' comments.
class FbxDepth {
  public:
    // "" or the reason the file is refused, fed in pieces.
    std::string feed(const char* p, size_t n);

  private:
    size_t depth_ = 0, line_ = 1;
    bool quoted_ = false, comment_ = false;
};

// The parts of an OBJ file, counted: its 'o' and 'g' statements and the 'usemtl' statements that
// start a new mesh. Also learns whether every 'o' statement may be read as a 'g' statement
// (ModelFacts in ModelCheck.h).
class ObjParts {
  public:
    // "" or the reason the file is refused, fed in pieces; then finish() once.
    std::string feed(const char* p, size_t n);
    std::string finish();
    bool objectsAsGroups() const { return !odd_ && objects_ > 0; }

  private:
    std::string endLine();

    size_t parts_ = 0, line_ = 1, objects_ = 0;
    bool faces_ = false; // since the last part began
    bool odd_ = false;   // a line that the rewrite would read differently
    std::unordered_set<uint64_t> names_;
    // The line being read: where it is, its first word (its first 8 bytes), and for an 'o'
    // statement the hash of its name and whether more follows.
    enum { Indent, FirstWord, BeforeName, Name, AfterName, Rest } state_ = Indent;
    bool indented_ = false, extra_ = false;
    std::string word_;
    uint64_t name_ = 0;
    bool named_ = false;
    char last_ = 0;
};

} // namespace sceneimport
