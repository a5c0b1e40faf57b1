// Writes short Ogg Vorbis files for the sound tests: a sine, or silence.
#pragma once

#include <string>

// A stereo 44100 Hz file of `seconds` holding a sine of `hz` at `amplitude` (0 gives silence)
// in both channels. False when it cannot be written.
bool writeSineOgg(const std::string& path, double seconds, double hz, double amplitude);
