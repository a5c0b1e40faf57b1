// Opening the music for vorbisfile without waiting and without reading what is not music: a FIFO
// or device is refused at once, and bytes after the last Ogg page (a file padded with zeros or
// junk) are never seen by vorbisfile, which would otherwise read back through all of them to find
// the stream's end.
#pragma once

#include <vorbis/vorbisfile.h>

#include <string>

namespace sound {

// Opens `fileName` into `file` (release it with ov_clear). False with `why` set when it is
// missing, not a regular file (errno ENODEV then), or no Ogg Vorbis stream.
bool openMusicFile(const char* fileName, OggVorbis_File* file, std::string* why);

// The music's length in milliseconds without decoding it; 0 when it cannot be opened (`why`
// says why, when given).
int musicLengthMs(const char* fileName, std::string* why = nullptr);

} // namespace sound
