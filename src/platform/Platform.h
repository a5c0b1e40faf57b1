// The platform layer: window, GL context, events, message boxes and the performance counter.
// Nothing outside src/platform sees SDL or the extension loader.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// ---- notices -------------------------------------------------------------
enum class BoxIcon { None, Error, Information, Warning };

// True when nothing may block on the user (HOLDFAST_UNATTENDED set and not "0").
bool unattended();
// Shows a modal box unless unattended or impossible; never fails visibly.
void messageBox(const char* caption, const char* text, BoxIcon icon);
// Yes/No question; returns defaultAnswer when unattended or when no box can be shown.
bool askYesNo(const char* caption, const char* text, bool defaultAnswer);

// ---- video ---------------------------------------------------------------
// Fails when there is no display, unless allowHeadless (tools) or SDL_VIDEODRIVER names
// the headless driver.
bool initVideo(bool allowHeadless = false);
void quitVideo();
// True when the display offers exactly this mode for fullscreen use.
bool fullscreenModeAvailable(int width, int height, int bits);

struct Window;  // opaque
struct Context; // opaque

enum class WindowStyle { Popup, Overlapped };
// Creates a hidden window at (0, 0); `fullscreen` switches the display to width x height.
Window* createWindow(const char* title, int width, int height, WindowStyle style, bool fullscreen);
void destroyWindow(Window* window);
void showWindow(Window* window);
// Switches the window into or out of the fullscreen mode; false when refused.
bool setFullscreen(Window* window, bool fullscreen);
void swapBuffers(Window* window);
void setWindowTitle(Window* window, const char* title);
void showCursor(bool visible);

// RGBA, 24-bit depth, 8-bit stencil, double-buffered compatibility context.
Context* createContext(Window* window);
bool makeCurrent(Window* window, Context* context);
// True while some GL context is current on this thread (false at process teardown).
bool hasCurrentGLContext();
bool releaseCurrent(Window* window);
void deleteContext(Context* context);

// Loads the GL entry points for the current context; false when none is usable.
bool initGLExtensions();

struct GLCaps {
    bool multitexture = false;
    bool shadow = false;
    bool framebufferObject = false;
    bool depthTextureTarget = false; // depth textures can be framebuffer attachments
    bool vertexBufferObject = false;
    bool fragmentProgram = false;
    bool vertexShader = false;
    int maxTextureUnits = 0;
};
// Filled by initGLExtensions.
const GLCaps& glCaps();
// Makes depthTextureTarget read false whatever the driver offers (true), or as offered (false),
// so the paths for drivers without depth render targets can be run on this one.
void setDepthTextureTargetDisabled(bool disabled);

// Hidden window with a current GL context and loaded entry points, for tools and tests.
bool createHiddenGLContext(int width, int height);
// The window of the hidden context (nullptr if none).
Window* hiddenWindow();

// ---- events --------------------------------------------------------------
// Exposed: part of the window was uncovered and shows nothing until a frame is presented.
enum class EventType { Quit, KeyDown, KeyUp, CloseRequest, Activate, Exposed, Other };
// The keys the programs act on; every other key is Other.
enum class Key {
    None,
    Escape,
    Space,
    Left,
    Right,
    PageUp,
    PageDown,
    Home,
    End,
    LeftBracket,
    RightBracket,
    L,
    R,
    S,
    Up,
    Down,
    G,
    H,
    Return,
    Backspace,
    Period,
    Colon,  // ':' or ';' (the same key without shift)
    Digit0, // Digit0 + n is the digit n (main row or keypad)
    Digit1,
    Digit2,
    Digit3,
    Digit4,
    Digit5,
    Digit6,
    Digit7,
    Digit8,
    Digit9,
    Other
};
struct Event {
    EventType type = EventType::Other;
    bool escape = false; // KeyDown/KeyUp of the Escape key
    Key key = Key::None; // KeyDown/KeyUp: which key
};
// Takes at most one pending event.
bool pollEvent(Event& event);
// Drops key presses and releases that arrived while nobody was listening (during loading).
void discardPendingInput();
// Queues a quit event (the close request's answer).
void postQuit();

// ---- memory --------------------------------------------------------------
// Hands the heap's free pages back to the system (after loading, whose temporary buffers would
// otherwise stay resident for the whole run). Nothing where the C library can't.
void returnFreeMemory();
// From now on every large block (a decoded picture, a texture's storage) is mapped on its own and
// goes back to the system when freed, instead of the C library keeping such blocks in the heap
// once one has been freed, where a program that loads and lets go of many pictures (the preview,
// reloading) fragments it for good. Nothing where the C library can't.
void returnLargeBlocksAtOnce();

// ---- time ----------------------------------------------------------------
int64_t counterFrequency();
int64_t counterNow();
// CPU time the calling thread has used, in seconds (for the statistics line).
double threadCpuSeconds();

} // namespace platform
