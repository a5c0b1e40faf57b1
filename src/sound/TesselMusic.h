// The demo's music: the sound system, the one music stream and its channel.
#pragma once

namespace sound {
struct Stream;
}

class TesselMusic {
  public:
    // Starts the sound system (44100 Hz, 8 channels) unless it runs already. False when it cannot
    // start; that is silent, and the demo then runs without music.
    bool initSound();
    bool isSoundInitialized() const { return soundInitialized; }
    bool isPlaying() const { return playing; }

    // Opens the music stream (exact seeking). Without a sound system: the non-fatal report
    // "Soundsystem not inited" and false. A second call keeps the stream already open.
    bool openStream(const char* name);
    // Positions the open stream, ms.
    void setTime(int ms);
    // Starts the stream paused on a free channel, then unpauses it; no channel is fatal.
    void play();
    // Pauses the channel; the stream keeps its position.
    void pause();
    // Closes the stream and the sound system (at process exit).
    void closeSound();

    int channel() const { return channelHandle; }
    // Music time of the stream, ms (0 without one).
    int streamTime() const;
    bool hasStream() const { return stream != nullptr; }

  private:
    bool soundInitialized = false;
    sound::Stream* stream = nullptr;
    int channelHandle = -1;
    bool playing = false;
};

// The one music of the program.
extern TesselMusic tesselMusic;
