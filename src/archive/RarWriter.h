// Writing RAR 2.x archives as a DOS/Windows RAR 2.x would: '\' separators, RAR 2.0 encryption,
// stored or RAR 2.0 compressed members, optionally one solid stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace rar {

class Rar20Encoder;

struct WriterOptions {
    std::string password; // empty: members are not encrypted
    bool compress = false;
    bool solid = false;
    bool audioBlocks = true;
};

class Writer {
  public:
    explicit Writer(const WriterOptions& options);
    ~Writer();

    // Starts an archive on `out` (marker and archive header).
    bool begin(FILE* out);
    // Adds one member; `name` uses '/' or '\' (stored with '\'). `dosTime` is a DOS date/time.
    bool add(const std::string& name, const uint8_t* data, size_t size, uint32_t dosTime);
    // Writes the end-of-archive block and flushes.
    bool finish();

    const std::string& error() const { return lastError; }
    uint64_t bytesIn() const { return totalIn; }
    uint64_t bytesOut() const { return totalOut; }

  private:
    bool write(const void* data, size_t size);

    WriterOptions opt;
    FILE* file = nullptr;
    std::unique_ptr<Rar20Encoder> encoder;
    bool streamStarted = false; // a compressed member has started the solid stream
    std::string lastError;
    uint64_t totalIn = 0;
    uint64_t totalOut = 0;
};

// DOS date/time of a Unix time stamp (local time), as RAR headers store it.
uint32_t dosTimeFromUnix(int64_t seconds);

} // namespace rar
