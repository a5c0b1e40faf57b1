// The oscilloscope tap: a DSP unit that copies the mixed output, as mono 16-bit samples, into a
// ring of blocks that the oscilloscope views read on the main thread without a lock.
#pragma once

#include <cstdint>

class OscilloscopeTap {
  public:
    static constexpr int kPriority = 303;
    static constexpr int kSpareSamples = 16; // after the last block, for readers that overshoot

    // Creates the unit and the zeroed ring and switches the unit on. Without a sound system this
    // is fatal ("Oscillo: sound not inited"). Further starts share the running unit.
    static void start();
    static void setActive(bool on);
    // Switches the unit off and frees it once every start has been matched by a stop. The ring
    // stays allocated.
    static void stop();
    static bool running();

    // Block the next capture writes.
    static int blockIndex();
    // Where readers begin: the block after the one being written.
    static int readingPosition();
    static int blockLength();
    static int totalLength();
    // Ring sample (0 .. totalLength() + kSpareSamples - 1; 0 outside or before the first start).
    static int16_t sample(int index);
    // `count` samples from `first` on, every `step`th, as sample() gives them, in one call.
    static void samples(int first, int count, int step, int16_t* out);
    static int ringSize();

    // The capture callback (mixing thread): converts the block to mono into the ring at the
    // block index, advances the index and returns the buffer unchanged.
    static void* capture(void* originalBuffer, void* newBuffer, int length, void* userData);
    // Conversion of `length` stereo frames of a mixer type's layout to mono 16-bit samples.
    static void convertFrames(int mixerType, const void* frames, int length, int16_t* destination);
};
