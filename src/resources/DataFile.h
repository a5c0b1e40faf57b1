// Whole-file, in-memory data files with stream-like read/seek/tell.
// Once an archive is set, every open is served from it (no fallback to disk).
#pragma once

#include <cstdint>

// Points every later open at the archive; both strings are copied.
void setDataArchive(const char* archiveName, const char* password);
bool dataArchiveIsSet();

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

    // Copies up to `count` whole items of `itemSize` bytes; returns the items copied.
    unsigned int read(void* destination, unsigned int itemSize, unsigned int count);
    // origin 0: start, 1: current, 2: end. No range check; always returns 0.
    int seek(int offset, int origin);
    unsigned int tell() const { return position; }
    void close();

    bool isOpen() const { return opened; }
    uint32_t getSize() const { return size; }
    const unsigned char* getData() const { return data; }

  private:
    DataFile() = default;
    bool openInto(const char* name);

    uint32_t size = 0;
    uint32_t position = 0;
    unsigned char* data = nullptr;
    bool opened = false;
};
