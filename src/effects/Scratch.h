// A 3D scene with screens: the linked effect's picture on the mesh "screen1" and the music's
// waveform on "screen2" and "screen3". In scratch mode the linked effect is drawn at a time that
// swings back and forth, like a record under the needle.
#pragma once

#include "effects/Effect3D.h"
#include "effects/OscilloscopeView.h"
#include "resources/PBuffer.h"

class Scratch : public Effect3D {
  public:
    Scratch();
    // The scene outlives the effect: its screens stop showing this effect's pictures.
    ~Scratch() override;
    void start(int time) override;
    void update(int time) override;
    void render(int time) override;
    // Besides the scene signals: 37 switches scratch mode.
    void signal(const Signal& s) override;

    // The demo time the linked effect is drawn at in scratch mode, for the effect's phase.
    int scratchTime(int time);

    FloatVariable thisOrigin{0.2f}; // "ThisOrigin", "ThisAmp": read, unused
    FloatVariable thisAmp{0.2f};
    FloatVariable thatOrigin{0.2f}; // "ThatOrigin": centre of the swing, x 500 ms
    FloatVariable thatAmp{0.2f};    // "ThatAmp": half its width, x 500 ms

    bool scratchMode = false;
    bool scopeStarted = false;
    OscilloscopeView view;
    PBuffer* scopePicture = nullptr;
    PBuffer screen; // 256 x 256: the linked effect's picture

  private:
    void drawLinked(int time);
};
