// A fragment program from the demo's data drawn over the whole frame in one pass, with
// Shadertoy's inputs: the picture of a linked effect, the music, two pictures, the time, and eight
// keyable parameters. The script knows it as "Shader1" to "Shader4"; the name it was made for is
// its effect name.
#pragma once

#include "demo/Effect.h"
#include "platform/GL.h"
#include "resources/PBuffer.h"

#include <string>

class Texture;

class ShaderEffect : public Effect {
  public:
    explicit ShaderEffect(const std::string& scriptName);
    ~ShaderEffect() override;

    // Restarts the clock and the linked effect.
    void start(int time) override;
    // Draws the linked effect into the picture iChannel0 shows.
    void update(int time) override;
    void render(int time) override;
    // Besides the base types (2 links the effect iChannel0 shows): 5 the Spectrum's level, iBeat.
    void signal(const Signal& s) override;
    // A program named for Datafile (list 0) is read and built at once, as the script names it: one
    // the driver refuses stops the demo before it starts with the file's own name and line.
    void listItemAdded(int listId, const std::string& item, int count) override;
    // Makes the picture iChannel0 shows when the script will link an effect, and lets the driver
    // prepare the program's drawing, so neither falls into the frame where the effect starts.
    void warmUp() override;

    // Reads the program file again. When the driver takes it, the next frame draws with it and
    // "" is returned; otherwise the program drawn so far stays and the error is returned, one
    // "FILE:LINE: error: ..." a line (or "FILE: ..." for a file that cannot be read or is too long).
    std::string reloadProgram();
    // The data path of the program (the last Datafile named); "" before one is named.
    const std::string& programFile() const { return file; }
    bool hasProgram() const { return program != 0; }

    // A picture for a channel, named by its data path: a text keyed in any section, and loaded as
    // the script names it so that the frame that shows it does not decode it.
    class PictureName : public StringVariable {
      public:
        using StringVariable::addKey;
        void addKey(const std::string& v, int time) override;
    };

    static constexpr int kParams = 8;
    static constexpr int kLinkedSize = 1024; // the linked effect's picture, as Blur's

    BoolVariable blendAdd{false};      // "BlendAdd": added, weighted by Alpha
    BoolVariable blendMultiply{false}; // "BlendMultiply": blended over the frame by alpha x Alpha
    FloatVariable alpha{1.0f};         // "Alpha"
    IntVariable datafile{0};           // "Datafile": index into list 0, the program files
    PictureName texture2, texture3;    // "Texture2", "Texture3": iChannel2, iChannel3
    FloatVariable params[kParams];     // "Param1" .. "Param8", uniforms of those names

    PBuffer linkedPicture; // iChannel0; made once a link is set or queued
    float beat = 0.0f;     // the last level a Spectrum sent (iBeat)

  private:
    struct Uniforms {
        GLint resolution = -1, time = -1, timeDelta = -1, frameRate = -1, frame = -1, channelTime = -1,
              channelResolution = -1, mouse = -1, date = -1, sampleRate = -1, demoTime = -1, beat = -1;
        GLint channels[4] = {-1, -1, -1, -1};
        GLint params[kParams] = {-1, -1, -1, -1, -1, -1, -1, -1};
    };
    // Takes a built program in place of the one there was.
    void adopt(GLuint built);
    void makeLinkedPicture();
    // Starts the waveform tap and the spectrum for a program that reads iChannel1.
    void listenIfNeeded();
    // Start of the active span `time` lies in; -1 when the effect's own track is off there (it
    // is drawn through a link).
    int spanStart(int time) const;
    Texture* channelPicture(PictureName& variable, int time, std::string& shownName, Texture*& shown);

    std::string file;
    GLuint program = 0;
    Uniforms uniforms;
    bool listening = false; // holds a share of the waveform tap
    // The span being drawn and its frames.
    int drawnSpan = -2;
    int lastDrawn = 0;
    int framesInSpan = 0;
    std::string shownNames[2];
    Texture* shownPictures[2] = {nullptr, nullptr};
};
