// The checks of ModelCheck.h by format: glTF's JSON and binary container (GltfCheck.cpp), an
// ASCII FBX file's nesting (FbxCheck.cpp), all read as a stream from a file or from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

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

} // namespace sceneimport
