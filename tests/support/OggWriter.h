// Writes short Ogg Vorbis files for the sound tests: a sine, or silence.
#pragma once

#include <string>

// A file of `seconds` holding a sine of `hz` at `amplitude` (0 gives silence) in every channel
// (stereo 44100 Hz unless asked otherwise). False when it cannot be written.
bool writeSineOgg(const std::string& path, double seconds, double hz, double amplitude, int rate = 44100,
                  int channels = 2);
