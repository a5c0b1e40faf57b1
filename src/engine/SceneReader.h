// Reads scene files and morph data from bytes into the records of SceneFile.h.
//
// The bytes are untrusted: every count and length is checked against the bytes left before
// anything is allocated, and a file that breaks the format's rules is refused as a whole, so
// a caller never sees a half-read scene.
#pragma once

#include "engine/SceneFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace scenefile {

enum class ReadStatus {
    Ok,
    BadVersion,   // version field other than 1; nothing past the header was read
    UnknownChunk, // a chunk id outside the format (2 included)
    Broken,       // truncated, a count or length that cannot be right, or inconsistent geometry
};

struct ReadResult {
    ReadStatus status = ReadStatus::Ok;
    std::string message; // what was wrong and where (byte offset), empty when Ok
    int32_t value = 0;   // the version read (BadVersion) or the chunk id (UnknownChunk)
    explicit operator bool() const { return status == ReadStatus::Ok; }
};

// On success `scene` holds every chunk up to the end marker; bytes after it are ignored. Key
// tracks of unequal length are cut to the shortest. On failure `scene` is left empty.
ReadResult readScene(const uint8_t* data, size_t size, SceneFile& scene);

// `vertexCount` is the vertex count of the mesh the data belongs to; the file must hold exactly
// frameCount frames of that many positions and normals.
ReadResult readMorphData(const uint8_t* data, size_t size, int32_t vertexCount, MorphData& morph);

} // namespace scenefile
