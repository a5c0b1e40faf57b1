// The program's one window, its GL context and full screen.
#pragma once

#include <string>

namespace platform {
struct Window;
struct Context;
struct Event;
} // namespace platform

class DemoEngine {
  public:
    DemoEngine(const char* title, int width, int height, int bits, bool fullscreen, void* parent);

    // Result of construction; false after the non-fatal failures (no window, refused mode answered No).
    bool succeeded() const { return ok; }
    // Restores the display and releases everything; safe on a partly built engine.
    void shutdown();
    void swapBuffers();
    platform::Window* getWindow() const { return window; }
    // Whether the window was made full screen (Alt+Enter may have changed it since).
    bool isFullscreen() const { return fullscreen; }

    // The window procedure: acts on Escape and close requests only while input is enabled.
    static void windowProc(const platform::Event& event);

  private:
    std::string title;
    bool fullscreen = false;
    bool videoUp = false;
    platform::Context* context = nullptr;
    platform::Window* window = nullptr;
    bool ok = false;
};
