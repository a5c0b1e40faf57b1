#include "effects/ShaderEffect.h"

#include "base/Report.h"
#include "effects/LinkedEffect.h"
#include "resources/ScreenQuad.h"
#include "resources/ShaderProgram.h"
#include "resources/Texture.h"
#include "sound/OscilloscopeTap.h"
#include "sound/SoundSystem.h"
#include "sound/SpectrumTap.h"
#include "sound/TesselMusic.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace {

constexpr int kAudioWidth = 512; // Shadertoy's audio input: 512 values a row
constexpr int kChannels = 4;

// Shared by every shader effect: the music as Shadertoy's audio texture (the spectrum's 512
// magnitudes in the first row, the waveform in the second), filled once a frame, and the black
// texel unset channels show.
struct SharedTextures {
    GLuint audio = 0;
    GLuint black = 0;
    bool audioFilled = false;
    int audioTime = 0;
    int audioBlock = -1;
};
SharedTextures shared;

GLuint blackTexture() {
    if (shared.black == 0) {
        const unsigned char texel[4] = {0, 0, 0, 255};
        glGenTextures(1, &shared.black);
        glBindTexture(GL_TEXTURE_2D, shared.black);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
    return shared.black;
}

// Rounded to the nearest byte; 1024 of these a frame, so no library rounding.
unsigned char toByte(float v) {
    return static_cast<unsigned char>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
}

// What the taps hold now. Bound to the active unit afterwards.
GLuint audioTexture(int time) {
    unsigned char texels[2 * kAudioWidth];
    const bool running = OscilloscopeTap::running();
    const int block = running ? OscilloscopeTap::blockIndex() : -1;
    if (shared.audio != 0 && shared.audioFilled && shared.audioTime == time && shared.audioBlock == block) {
        glBindTexture(GL_TEXTURE_2D, shared.audio);
        return shared.audio;
    }
    // Read without counting: the player's statistics count the frames the Spectrum reads.
    const float* spectrum =
        tesselMusic.isSoundInitialized() && tesselMusic.isPlaying() ? sound::dspGetSpectrum() : nullptr;
    for (int i = 0; i < kAudioWidth; ++i)
        texels[i] = spectrum ? toByte(spectrum[i]) : 0;
    // The block after the one being written, as the oscilloscope draws it; silence is 0.5.
    int16_t wave[kAudioWidth] = {};
    if (running) {
        const int step = std::max(1, OscilloscopeTap::blockLength() / kAudioWidth);
        OscilloscopeTap::samples(OscilloscopeTap::readingPosition(), kAudioWidth, step, wave);
    }
    for (int i = 0; i < kAudioWidth; ++i)
        texels[kAudioWidth + i] = static_cast<unsigned char>((wave[i] + 32768) >> 8);
    if (shared.audio == 0) {
        glGenTextures(1, &shared.audio);
        glBindTexture(GL_TEXTURE_2D, shared.audio);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kAudioWidth, 2, 0, GL_RED, GL_UNSIGNED_BYTE, texels);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    } else {
        glBindTexture(GL_TEXTURE_2D, shared.audio);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kAudioWidth, 2, GL_RED, GL_UNSIGNED_BYTE, texels);
    }
    shared.audioFilled = true;
    shared.audioTime = time;
    shared.audioBlock = block;
    return shared.audio;
}

// Shadertoy's iDate: year, month from 0, day of the month, seconds since midnight.
void currentDate(float date[4]) {
    timeval now{};
    gettimeofday(&now, nullptr);
    const time_t seconds = now.tv_sec;
    tm local{};
    localtime_r(&seconds, &local);
    date[0] = static_cast<float>(local.tm_year + 1900);
    date[1] = static_cast<float>(local.tm_mon);
    date[2] = static_cast<float>(local.tm_mday);
    date[3] = static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) +
              static_cast<float>(now.tv_usec) * 1e-6f;
}

const char* const kParamNames[ShaderEffect::kParams] = {"Param1", "Param2", "Param3", "Param4",
                                                        "Param5", "Param6", "Param7", "Param8"};

} // namespace

void ShaderEffect::PictureName::addKey(const std::string& v, int time) {
    StringVariable::addKey(v, time);
    if (!v.empty()) TextureManager::instance().loadTexture(v, "", GL_TEXTURE_2D);
}

ShaderEffect::ShaderEffect(const std::string& scriptName) : Effect(scriptName) {
    registerVariable(blendAdd, "BlendAdd", NoList, KindBool);
    registerVariable(blendMultiply, "BlendMultiply", NoList, KindBool);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(datafile, "Datafile", 0, KindInt);
    registerVariable(texture2, "Texture2", NoList, KindString);
    registerVariable(texture3, "Texture3", NoList, KindString);
    for (int i = 0; i < kParams; ++i)
        registerVariable(params[i], kParamNames[i], NoList, KindFloat);
}

ShaderEffect::~ShaderEffect() {
    if (listening) OscilloscopeTap::stop();
    if (program != 0) glDeleteProgram(program);
}

void ShaderEffect::adopt(GLuint built) {
    if (program != 0) glDeleteProgram(program);
    program = built;
    uniforms = Uniforms();
    if (program == 0) return;
    auto at = [&](const char* uniform) { return glGetUniformLocation(program, uniform); };
    uniforms.resolution = at("iResolution");
    uniforms.time = at("iTime");
    uniforms.timeDelta = at("iTimeDelta");
    uniforms.frameRate = at("iFrameRate");
    uniforms.frame = at("iFrame");
    uniforms.channelTime = at("iChannelTime");
    uniforms.channelResolution = at("iChannelResolution");
    uniforms.mouse = at("iMouse");
    uniforms.date = at("iDate");
    uniforms.sampleRate = at("iSampleRate");
    uniforms.demoTime = at("iDemoTime");
    uniforms.beat = at("iBeat");
    for (int i = 0; i < kParams; ++i)
        uniforms.params[i] = at(kParamNames[i]);
    const char* channelNames[kChannels] = {"iChannel0", "iChannel1", "iChannel2", "iChannel3"};
    // The samplers read units 0 to 3 and the mouse stays still: set once.
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    glUseProgram(program);
    for (int i = 0; i < kChannels; ++i) {
        uniforms.channels[i] = at(channelNames[i]);
        if (uniforms.channels[i] >= 0) glUniform1i(uniforms.channels[i], i);
    }
    if (uniforms.mouse >= 0) glUniform4f(uniforms.mouse, 0, 0, 0, 0);
    glUseProgram(static_cast<GLuint>(previous));
    // A program that reads the music may come in place of one that did not.
    listenIfNeeded();
}

void ShaderEffect::listItemAdded(int listId, const std::string& item, int count) {
    if (listId != 0) return;
    datafile.count = count;
    file = item;
    const shaderprogram::Build built = shaderprogram::load(item);
    using Problem = shaderprogram::Build::Problem;
    switch (built.problem) {
    case Problem::None:
        adopt(built.program);
        return;
    case Problem::Missing:
        adopt(0);
        reportErrorText(__FILE__, __LINE__, "could not load shader", item.c_str(), false);
        return;
    case Problem::TooLong:
        adopt(0);
        reportErrorText(__FILE__, __LINE__, (name + ": shader program too long, not drawn").c_str(),
                        built.error.c_str(), false);
        return;
    case Problem::Refused:
        adopt(0);
        reportErrorText(__FILE__, __LINE__, (name + ": the shader does not compile").c_str(),
                        built.error.c_str(), true);
        return;
    }
}

std::string ShaderEffect::reloadProgram() {
    if (file.empty()) return "no program file named";
    shaderprogram::Build built = shaderprogram::load(file);
    if (built.problem == shaderprogram::Build::Problem::None) {
        adopt(built.program);
        return std::string();
    }
    if (built.problem == shaderprogram::Build::Problem::Missing) return file + ": cannot be read";
    return built.error;
}

void ShaderEffect::makeLinkedPicture() {
    if (linkedPicture.isInitialized()) return;
    // Cleared or drawn over in every update before the render reads it: memory only while it runs.
    initLinkedTarget(linkedPicture, kLinkedSize, GL_LINEAR, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT,
                     TargetBuffers::DepthWhenNeeded, TargetLifetime::RemadeEachFrame);
}

void ShaderEffect::listenIfNeeded() {
    if (listening || uniforms.channels[1] < 0 || !sound::isInitialized()) return;
    spectrumTap::activate();
    OscilloscopeTap::start();
    listening = OscilloscopeTap::running();
}

void ShaderEffect::start(int time) {
    Effect::start(time);
    if (linked) makeLinkedPicture();
    startLinked(linked, time, {&linkedPicture});
    // As the oscilloscope does: its share of the tap taken again, which also finds a tap that a
    // restarted sound system has made anew.
    if (listening) {
        OscilloscopeTap::stop();
        listening = false;
    }
    listenIfNeeded();
}

void ShaderEffect::signal(const Signal& s) {
    Effect::signal(s);
    switch (s.type) {
    case 2:
        if (linked) makeLinkedPicture();
        break;
    case 5:
        beat = s.value;
        break;
    default:
        break;
    }
}

void ShaderEffect::warmUp() {
    if (!queuedSignalTexts(2).empty()) makeLinkedPicture();
    if (program == 0) return;
    // One pass at the time the effect first comes on, into a single pixel of the frame that the
    // first frame clears: the driver makes the program's code for the state it is drawn in now,
    // not in the frame where the effect starts (about 40 ms for the bundled lattice on Mesa).
    int first = activeTrack.value ? 0 : -1;
    for (const auto& key : activeTrack.keys)
        if (key.value && first < 0) first = key.time;
    GLint box[4];
    glGetIntegerv(GL_SCISSOR_BOX, box);
    const bool scissored = glIsEnabled(GL_SCISSOR_TEST);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 1, 1);
    render(first > 0 ? first : 0);
    glScissor(box[0], box[1], box[2], box[3]);
    if (!scissored) glDisable(GL_SCISSOR_TEST);
    drawnSpan = -2;
    framesInSpan = 0;
    lastDrawn = 0;
}

void ShaderEffect::update(int time) {
    Effect::update(time);
    listenIfNeeded();
    // Without a program nothing shows the picture.
    if (!linked || program == 0) return;
    makeLinkedPicture();
    updateLinked(linked, time, {{&linkedPicture, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT}});
}

int ShaderEffect::spanStart(int time) const {
    const auto& keys = activeTrack.keys;
    if (keys.empty()) return activeTrack.value ? 0 : -1;
    // The track's own step rule: the key before the first one after `time`, or the value.
    size_t next = 1;
    while (next < keys.size() && static_cast<unsigned>(keys[next].time) <= static_cast<unsigned>(time))
        ++next;
    if (next >= keys.size()) {
        if (!activeTrack.value) return -1;
        if (!keys.back().value) return keys.back().time;
        next = keys.size();
    }
    size_t on = next - 1;
    if (!keys[on].value) return -1;
    while (on > 0 && keys[on - 1].value)
        --on;
    return keys[on].time;
}

Texture* ShaderEffect::channelPicture(PictureName& variable, int time, std::string& shownName,
                                      Texture*& shown) {
    const std::string& wanted = variable.trackedStringAt(time);
    if (wanted != shownName) {
        shownName = wanted;
        shown = wanted.empty() ? nullptr : TextureManager::instance().loadTexture(wanted, "", GL_TEXTURE_2D);
    }
    return shown;
}

void ShaderEffect::render(int time) {
    if (program == 0) return;

    // The clock of the span: Shadertoy's time starts where the effect comes on.
    const int span = spanStart(time);
    if (span != drawnSpan || time < lastDrawn) {
        drawnSpan = span;
        framesInSpan = 0;
    } else {
        ++framesInSpan;
    }
    const float delta = framesInSpan > 0 ? static_cast<float>(time - lastDrawn) * 0.001f : 0.0f;
    lastDrawn = time;
    // Drawn through a link only: the effect's own clock, which the linking effect starts.
    const float seconds = span >= 0 ? static_cast<float>(static_cast<double>(time - span) * 0.001)
                                    : static_cast<float>(elapsed) * 0.001f;

    const GLint* viewport = glstate::viewport();
    glUseProgram(program);
    const Uniforms& u = uniforms;
    if (u.resolution >= 0)
        glUniform3f(u.resolution, static_cast<float>(viewport[2]), static_cast<float>(viewport[3]), 1.0f);
    if (u.time >= 0) glUniform1f(u.time, seconds);
    if (u.timeDelta >= 0) glUniform1f(u.timeDelta, delta);
    if (u.frameRate >= 0) glUniform1f(u.frameRate, delta > 0 ? 1.0f / delta : 0.0f);
    if (u.frame >= 0) glUniform1i(u.frame, framesInSpan);
    if (u.channelTime >= 0) {
        const float times[kChannels] = {seconds, seconds, seconds, seconds};
        glUniform1fv(u.channelTime, kChannels, times);
    }
    if (u.date >= 0) {
        float date[4];
        currentDate(date);
        glUniform4fv(u.date, 1, date);
    }
    if (u.sampleRate >= 0)
        glUniform1f(u.sampleRate, static_cast<float>(sound::isInitialized() ? sound::mixRate() : 44100));
    if (u.demoTime >= 0) glUniform1f(u.demoTime, static_cast<float>(static_cast<double>(time) * 0.001));
    if (u.beat >= 0) glUniform1f(u.beat, beat);
    for (int i = 0; i < kParams; ++i)
        if (u.params[i] >= 0) glUniform1f(u.params[i], params[i].valueAt(time));

    // The channels, the last on unit 0 so that it stays the active unit.
    float resolutions[3 * kChannels] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    auto setSize = [&](int channel, int w, int h) {
        resolutions[3 * channel] = static_cast<float>(w);
        resolutions[3 * channel + 1] = static_cast<float>(h);
    };
    bool unitsUsed = false;
    for (int channel = kChannels - 1; channel >= 1; --channel) {
        if (u.channels[channel] < 0) continue;
        unitsUsed = true;
        glActiveTexture(GL_TEXTURE0 + channel);
        if (channel == 1) {
            audioTexture(time);
            setSize(1, kAudioWidth, 2);
            continue;
        }
        const int k = channel - 2;
        Texture* picture =
            channelPicture(channel == 2 ? texture2 : texture3, time, shownNames[k], shownPictures[k]);
        if (picture && picture->id != 0) {
            glBindTexture(GL_TEXTURE_2D, picture->id);
            setSize(channel, picture->width, picture->height);
        } else {
            glBindTexture(GL_TEXTURE_2D, blackTexture());
        }
    }
    if (unitsUsed) glActiveTexture(GL_TEXTURE0);
    const bool linkedShown = u.channels[0] >= 0 && linked && linkedPicture.isInitialized();
    if (linkedShown) {
        linkedPicture.bind(WGL_FRONT_LEFT_ARB);
        setSize(0, linkedPicture.getWidth(), linkedPicture.getHeight());
    } else if (u.channels[0] >= 0) {
        glBindTexture(GL_TEXTURE_2D, blackTexture());
    }
    if (u.channelResolution >= 0) glUniform3fv(u.channelResolution, kChannels, resolutions);

    // Blending as Image's: over the frame by alpha, or added; neither covers the frame.
    const float a = alpha.valueAt(time);
    const bool add = blendAdd.valueAt(time) > 0;
    const bool over = blendMultiply.valueAt(time) > 0;
    if (add || over) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, add ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glDisable(GL_BLEND);
    }
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    // The pass's colour carries Alpha into the program: lighting left on by a scene drawn before
    // would replace it with the lit material's colour.
    const bool lit = glIsEnabled(GL_LIGHTING);
    if (lit) glDisable(GL_LIGHTING);
    glColor4f(1, 1, 1, a);
    setOrthoYUp();
    drawUnitQuad();
    if (lit) glEnable(GL_LIGHTING);

    glUseProgram(0);
    if (linkedShown) linkedPicture.release(WGL_FRONT_LEFT_ARB);
    if (unitsUsed) {
        for (int channel = kChannels - 1; channel >= 1; --channel) {
            if (u.channels[channel] < 0) continue;
            glActiveTexture(GL_TEXTURE0 + channel);
            glBindTexture(GL_TEXTURE_2D, 0);
        }
        glActiveTexture(GL_TEXTURE0);
    }
    glColor4f(1, 1, 1, 1);
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
}
