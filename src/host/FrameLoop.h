// The frame loop: one event, clear, frame step, end test, present, quit test.
#pragma once

#include "platform/Platform.h"

// Demo time (ms, compared unsigned) past which the demo ends, unless its script sets DEMO_LENGTH.
constexpr unsigned int kDemoEndTime = 286000;

// Where the loaded demo ends: its DEMO_LENGTH, else kDemoEndTime.
unsigned int demoRunEnd();

// One frame of the demo at demo time t (renderFrame), after which render targets that frames no
// longer use give their memory back, to the system too (PBuffer::frameDone). What the player,
// the tools and the benches draw.
void drawFrame(int t);

// What the loop drives; the player uses the window and the demo clock, tests inject their own.
class FrameLoopDriver {
  public:
    virtual ~FrameLoopDriver() = default;
    virtual bool pollEvent(platform::Event& event) = 0;
    virtual void dispatch(const platform::Event& event) = 0;
    virtual void clear() = 0;
    virtual int now() = 0;
    virtual void renderFrame(int t) = 0;
    virtual void present() = 0;
};

// Runs until the demo time passes demoRunEnd(), a quit event arrives or quitRequested is set.
// Returns the number of frames presented.
unsigned long runFrameLoop(FrameLoopDriver& driver);
