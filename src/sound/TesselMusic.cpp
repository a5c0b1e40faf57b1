#include "sound/TesselMusic.h"

#include "base/Report.h"
#include "sound/SoundSystem.h"

TesselMusic tesselMusic;

bool TesselMusic::initSound() {
    if (!soundInitialized && sound::init(44100, 8, 0)) soundInitialized = true;
    return soundInitialized;
}

bool TesselMusic::openStream(const char* name) {
    if (!soundInitialized) {
        reportError(__FILE__, __LINE__, "Soundsystem not inited", false);
        return false;
    }
    if (!stream) stream = sound::streamOpen(name);
    return stream != nullptr;
}

void TesselMusic::setTime(int ms) {
    if (stream) sound::streamSetTime(stream, ms);
}

void TesselMusic::play() {
    if (!stream) return;
    channelHandle = sound::streamPlay(stream, true);
    if (channelHandle == -1) reportError(__FILE__, __LINE__, "Could not play soundstream", true);
    sound::setPaused(channelHandle, false);
    playing = true;
}

void TesselMusic::pause() {
    if (channelHandle == -1) return;
    sound::setPaused(channelHandle, true);
    playing = false;
}

void TesselMusic::closeSound() {
    if (stream) {
        sound::streamClose(stream);
        stream = nullptr;
    }
    if (soundInitialized) {
        sound::close();
        soundInitialized = false;
    }
    channelHandle = -1;
    playing = false;
}

int TesselMusic::streamTime() const {
    return stream ? sound::streamGetTime(stream) : 0;
}
