// Whole-file, in-memory data files with stream-like read/seek/tell.
// Once an archive is set, every open is served from it (no fallback to disk).
#pragma once

#include <cstdint>
#include <string>

// Points every later open at the archive; both strings are copied.
void setDataArchive(const char* archiveName, const char* password);
bool dataArchiveIsSet();

// Confines every later open from disk to `folder` (a demo read from its folder: "." once the
// program has entered it), as a packed demo is confined to its archive: a name must be relative
// and stay inside the folder, links included. Anything else is refused and reported. Null lifts
// the confinement (none is set at start: tools and tests read files anywhere).
void setDataFolder(const char* folder);

// Sees the name of every open and whether it succeeded (a checking tool lists the files a demo
// uses); returns the observer it replaces. None is installed in the player.
using DataFileObserver = void (*)(const char* name, bool opened);
DataFileObserver setDataFileObserver(DataFileObserver observer);

class DataFile {
  public:
    // Opens `name`; callers test isOpen().
    explicit DataFile(const char* name);
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Factory form: a new DataFile, or nullptr when the open failed.
    static DataFile* open(const char* name);
    // The same for a reader that reads its way through the file (a picture decoder): from disk
    // only the bytes it asks for are read, so a file far longer than what it holds costs no more
    // than the part read; from the archive the member comes whole, as ever. getData() reads the
    // whole file at its first call.
    static DataFile* openStream(const char* name);
    // The length `name` would open with, found without reading it (from the archive's header
    // once an archive is set); -1 when there is no such regular file or member. Lets a reader
    // refuse a file too large for what it describes before it is loaded whole.
    static long long sizeOf(const char* name);
    // Why the last open or sizeOf that failed did, for an author: "is missing", "is not
    // readable (Permission denied)", "is too large to read into memory (N bytes)", "leaves the
    // demo folder: ...", "is not in the archive"...; empty after one that succeeded.
    static const std::string& lastFailure();

    // Copies up to `count` whole items of `itemSize` bytes; returns the items copied.
    unsigned int read(void* destination, unsigned int itemSize, unsigned int count);
    // origin 0: start, 1: current, 2: end. No range check; always returns 0.
    int seek(int offset, int origin);
    unsigned int tell() const { return position; }
    void close();

    bool isOpen() const { return opened; }
    uint32_t getSize() const { return size; }
    // The whole contents; null only when a file opened with openStream cannot be read whole.
    const unsigned char* getData() const;

  private:
    DataFile() = default;
    static DataFile* openAs(const char* name, bool streamed); // open() and openStream()
    bool openInto(const char* name, bool streamed);
    unsigned int readStreamed(unsigned char* destination, unsigned int itemSize, unsigned int count);

    uint32_t size = 0;
    uint32_t position = 0;
    mutable unsigned char* data = nullptr;
    bool opened = false;
    // A file on disk opened with openStream: read on demand through a small window.
    mutable int descriptor = -1;
    unsigned char* window = nullptr;
    uint32_t windowStart = 0;
    uint32_t windowLength = 0;
};
