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
// the headless driver. With allowHeadless and no display named at all (no DISPLAY, no
// WAYLAND_DISPLAY, no SDL_VIDEODRIVER) it goes straight to the offscreen driver (EGL).
bool initVideo(bool allowHeadless = false);
void quitVideo();
// True when the display can show a window full screen at its desktop resolution.
bool desktopFullscreenAvailable();

struct Window;  // opaque
struct Context; // opaque

enum class WindowStyle { Popup, Overlapped };
// Creates a hidden, resizable window at (0, 0); `fullscreen` covers the whole desktop at its own
// resolution (no display mode is switched).
Window* createWindow(const char* title, int width, int height, WindowStyle style, bool fullscreen);
void destroyWindow(Window* window);
// Shows the window; the mouse cursor is hidden while it is full screen, shown otherwise.
void showWindow(Window* window);
// Puts the window full screen at the desktop's resolution, or back into a window (with a frame
// and the windowed size); false when refused. The cursor follows, as in showWindow.
bool setFullscreen(Window* window, bool fullscreen);
bool isFullscreen(Window* window);
// Presents the frame: the frame target (below) scaled into the window's drawable, or the window's
// own back buffer where the frame was drawn into it.
void swapBuffers(Window* window);
void setWindowTitle(Window* window, const char* title);
void showCursor(bool visible);

// ---- vsync ---------------------------------------------------------------
enum class Vsync { Off, On, Adaptive };
// HOLDFAST_VSYNC: "0", "1" or "adaptive"; unset (or anything else, with a notice on stderr):
// Adaptive.
Vsync vsyncFromEnvironment();
// Sets the current context's swap interval: Adaptive is -1 (late frames are not held back) where
// the driver offers it, else 1; On is 1; anything the driver refuses falls back towards 0.
// Returns the interval in use.
int setVsync(Vsync wanted);

// ---- the frame -----------------------------------------------------------
// Whatever size the window has, every effect draws into, copies from and reads back a frame of
// the frame's size at the origin. While the window's drawable has exactly that size the frame is
// the window's own framebuffer; otherwise (full screen, a resized window, a scaled desktop) it is
// a frame target (RGBA8 colour, 24-bit depth, 8-bit stencil) that swapBuffers scales into the
// window. swapBuffers switches between the two after each frame as the window's size asks.
// Makes it for the current context and window and sets the viewport over the frame; needs the GL
// entry points. False (frames always go into the window, unscaled) when the driver refuses it.
bool createFrameTarget(int width, int height);
void deleteFrameTarget();
// The framebuffer that stands for the window now: the frame target's, or 0 (the window's own).
unsigned int frameFramebuffer();

// How the frame fills the window: Linear scales it to the largest rectangle of its shape that
// fits, filtered (unfiltered where that is a whole multiple of its size, as on a 200 % desktop);
// Nearest (pixel art) to the largest whole multiple of its size that fits, unfiltered (scaled
// down like Linear where even 1x does not fit).
enum class Scaling { Linear, Nearest };
// HOLDFAST_SCALE=nearest, else Linear.
Scaling scalingFromEnvironment();
struct FrameRect {
    int x, y, width, height; // in the drawable, origin bottom-left
};
// Where a frameWidth x frameHeight frame lands in a drawable of that size: centred, bars around.
FrameRect frameRectIn(int frameWidth, int frameHeight, int drawableWidth, int drawableHeight,
                      Scaling scaling);

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

// Where a hidden context draws: on the display that is named (the offscreen driver when none
// is), or always offscreen (EGL, no display server at all; the named display only if that fails).
enum class HiddenDisplay { Named, Offscreen };
// Hidden window with a current GL context and loaded entry points, for tools and tests.
bool createHiddenGLContext(int width, int height, HiddenDisplay where = HiddenDisplay::Named);
// The window of the hidden context (nullptr if none).
Window* hiddenWindow();

// ---- events --------------------------------------------------------------
// Resized: the window's size changed. Where the last frame was drawn into the window itself (an
// unscaled window), a program that draws no new frame soon should draw it again.
// Exposed: part of the window was uncovered and shows nothing until a frame is presented.
enum class EventType { Quit, KeyDown, KeyUp, CloseRequest, Activate, Resized, Exposed, Other };
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
