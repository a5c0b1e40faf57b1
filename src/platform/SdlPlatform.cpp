#include "platform/Platform.h"

#include "platform/FrameTarget.h"
#include "platform/GLState.h"
#include <SDL.h>
#include <unistd.h>

#include <chrono>
#if defined(__SANITIZE_ADDRESS__) || defined(HOLDFAST_SANITIZE_BUILD)
#include <dlfcn.h>
#include <link.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

struct Window {
    SDL_Window* sdl;
    int width, height; // the size asked for, which the window has again when it leaves full screen
};
struct Context {
    SDL_GLContext sdl;
};

namespace {
GLCaps caps;
bool driverDepthTextureTarget = false;
bool depthTextureTargetDisabled = false;
Window* hidden = nullptr;
Context* hiddenContext = nullptr;

Uint32 boxFlags(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return SDL_MESSAGEBOX_ERROR;
    case BoxIcon::Warning:
        return SDL_MESSAGEBOX_WARNING;
    case BoxIcon::Information:
        return SDL_MESSAGEBOX_INFORMATION;
    case BoxIcon::None:
        break;
    }
    return 0;
}
} // namespace

bool unattended() {
    const char* value = getenv("HOLDFAST_UNATTENDED");
    return value && *value && strcmp(value, "0") != 0;
}

void messageBox(const char* caption, const char* text, BoxIcon icon) {
    if (unattended()) return;
    SDL_ShowSimpleMessageBox(boxFlags(icon), caption, text, nullptr);
}

bool askYesNo(const char* caption, const char* text, bool defaultAnswer) {
    if (unattended()) return defaultAnswer;
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "No"},
    };
    SDL_MessageBoxData data{};
    data.flags = 0;
    data.title = caption;
    data.message = text;
    data.numbuttons = 2;
    data.buttons = buttons;
    int pressed = -1;
    if (SDL_ShowMessageBox(&data, &pressed) < 0 || pressed < 0) return defaultAnswer;
    return pressed == 1;
}

namespace {
// One plain line before the program's own reports, which speak of window classes and GL set-up:
// the user learns first that the display is the problem, and which one was tried.
void reportNoDisplay(const char* reason) {
    const char* display = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    std::string where;
    if (display && *display) where = std::string("DISPLAY=") + display;
    if (wayland && *wayland) where += std::string(where.empty() ? "" : ", ") + "WAYLAND_DISPLAY=" + wayland;
    if (where.empty()) where = "DISPLAY is not set";
    fprintf(stderr, "no display could be opened (%s): %s\n", where.c_str(),
            reason && *reason ? reason : "unknown error");
    fflush(stderr);
}
} // namespace

namespace {
bool named(const char* variable) {
    const char* value = getenv(variable);
    return value && *value;
}

// Runs `probe` with stderr going to a scratch file and returns what was written there. Libraries
// that SDL tries one after the other print their own complaints (libwayland: "error:
// XDG_RUNTIME_DIR is invalid or not set in the environment.") even when a later one works: those
// lines are only worth showing when nothing worked.
template <typename Probe> std::string quietly(Probe probe) {
    fflush(stderr);
    FILE* scratch = tmpfile();
    const int saved = scratch ? dup(STDERR_FILENO) : -1;
    if (saved < 0 || dup2(fileno(scratch), STDERR_FILENO) < 0) {
        if (saved >= 0) close(saved);
        if (scratch) fclose(scratch);
        probe();
        return std::string();
    }
    probe();
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string said;
    rewind(scratch);
    char buffer[512];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, scratch)) > 0)
        said.append(buffer, got);
    fclose(scratch);
    return said;
}
} // namespace

bool initVideo(bool allowHeadless) {
    // Closing the window is a request the host answers itself, not an automatic quit.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // A hidden window with no display named at all needs no display server: the offscreen driver
    // (EGL) draws the same frames without one.
    if (allowHeadless && !named("SDL_VIDEODRIVER") && !named("DISPLAY") && !named("WAYLAND_DISPLAY"))
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    int result = -1;
    const std::string said = quietly([&] { result = SDL_InitSubSystem(SDL_INIT_VIDEO); });
    if (result != 0) {
        fputs(said.c_str(), stderr);
        reportNoDisplay(SDL_GetError());
        return false;
    }
    // SDL falls back to an invisible offscreen driver when there is no display; a player
    // nobody can see is no player, so that only counts when asked for by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* asked = getenv("SDL_VIDEODRIVER");
    bool headless = driver && (strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0);
    if (headless && !allowHeadless && !(asked && strcmp(asked, driver) == 0)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        fputs(said.c_str(), stderr);
        reportNoDisplay("no X11 or Wayland server answered");
        return false;
    }
    return true;
}

void quitVideo() {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool desktopFullscreenAvailable() {
    SDL_DisplayMode desktop{};
    return SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0;
}

Window* createWindow(const char* title, int width, int height, WindowStyle style, bool fullscreen) {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    // Eight bits of alpha, not the one the pixel format of old asked for: GLX gives eight either
    // way, while EGL (the offscreen driver) answers one bit with 10-10-10-2, whose blending comes
    // out up to three levels apart from the same frame drawn under X.
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);

    // The frame is scaled into whatever size the window takes, at the drawable's own pixels on a
    // scaled (high-DPI) desktop.
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
    if (style == WindowStyle::Popup) flags |= SDL_WINDOW_BORDERLESS;
    // Full screen starts out covering the display, not only once a window manager makes it so:
    // without one (a bare X server, a kiosk) nobody else would.
    SDL_Rect place{0, 0, width, height};
    if (fullscreen) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        SDL_GetDisplayBounds(0, &place);
    }
    SDL_Window* sdl = SDL_CreateWindow(title, place.x, place.y, place.w, place.h, flags);
    if (!sdl) return nullptr;
    Window* window = new Window{sdl, width, height};
    SDL_SetWindowData(sdl, "holdfast", window);
    return window;
}

void destroyWindow(Window* window) {
    if (!window) return;
    SDL_DestroyWindow(window->sdl);
    delete window;
}

namespace {
bool fullscreenNow(SDL_Window* sdl) {
    return (SDL_GetWindowFlags(sdl) & SDL_WINDOW_FULLSCREEN) != 0;
}
} // namespace

void showWindow(Window* window) {
    SDL_ShowWindow(window->sdl);
    SDL_RaiseWindow(window->sdl);
    SDL_SetWindowInputFocus(window->sdl);
    showCursor(!fullscreenNow(window->sdl));
}

bool setFullscreen(Window* window, bool fullscreen) {
    if (!window) return false;
    SDL_Window* sdl = window->sdl;
    if (fullscreen == fullscreenNow(sdl)) return true;
    if (fullscreen) {
        // Placed over the display first, as at creation, for a display without a window manager.
        SDL_Rect bounds;
        const int display = SDL_GetWindowDisplayIndex(sdl);
        if (SDL_GetDisplayBounds(display < 0 ? 0 : display, &bounds) == 0) {
            SDL_SetWindowPosition(sdl, bounds.x, bounds.y);
            SDL_SetWindowSize(sdl, bounds.w, bounds.h);
        }
    }
    if (SDL_SetWindowFullscreen(sdl, fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0) return false;
    if (!fullscreen) {
        // An ordinary window of the size asked for, whatever style it was made with.
        SDL_SetWindowBordered(sdl, SDL_TRUE);
        SDL_SetWindowSize(sdl, window->width, window->height);
    }
    showCursor(!fullscreen);
    return true;
}

bool isFullscreen(Window* window) {
    return window && fullscreenNow(window->sdl);
}

namespace {
void present(SDL_Window* sdl) {
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(sdl, &width, &height);
    presentFrameTarget(width, height);
    SDL_GL_SwapWindow(sdl);
    frameShown(width, height);
}
} // namespace

void swapBuffers(Window* window) {
    present(window->sdl);
}

void setWindowTitle(Window* window, const char* title) {
    if (window) SDL_SetWindowTitle(window->sdl, title);
}

void showCursor(bool visible) {
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

Vsync vsyncFromEnvironment() {
    const char* value = getenv("HOLDFAST_VSYNC");
    if (!value || !*value || strcmp(value, "adaptive") == 0) return Vsync::Adaptive;
    if (strcmp(value, "0") == 0) return Vsync::Off;
    if (strcmp(value, "1") == 0) return Vsync::On;
    fprintf(stderr, "HOLDFAST_VSYNC=%s is not 0, 1 or adaptive: adaptive is used\n", value);
    return Vsync::Adaptive;
}

int setVsync(Vsync wanted) {
    if (wanted == Vsync::Adaptive && SDL_GL_SetSwapInterval(-1) == 0) return SDL_GL_GetSwapInterval();
    if (wanted != Vsync::Off && SDL_GL_SetSwapInterval(1) == 0) return SDL_GL_GetSwapInterval();
    SDL_GL_SetSwapInterval(0);
    return SDL_GL_GetSwapInterval();
}

#if defined(__SANITIZE_ADDRESS__) || defined(HOLDFAST_SANITIZE_BUILD)
namespace {
// Closing the display unloads the GL driver (Mesa's *_dri.so, and through EGL its vendor library
// libEGL_mesa) before the leak check at exit, and what the driver keeps until exit then comes from
// an unknown module that no suppression can name. Pinned in memory, the driver stays nameable, so
// tests/lsan.supp covers it.
void keepGLDriverLoaded() {
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            if (info->dlpi_name && (strstr(info->dlpi_name, "_dri.so") || strstr(info->dlpi_name, "libEGL_")))
                static_cast<std::vector<std::string>*>(found)->push_back(info->dlpi_name);
            return 0;
        },
        &drivers);
    for (const std::string& driver : drivers)
        dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}
} // namespace
#endif

Context* createContext(Window* window) {
    SDL_GLContext context = SDL_GL_CreateContext(window->sdl);
    if (!context) return nullptr;
#if defined(__SANITIZE_ADDRESS__) || defined(HOLDFAST_SANITIZE_BUILD)
    keepGLDriverLoaded();
#endif
    // No frame-rate limit unless asked for (setVsync): tools and benches draw as fast as they can.
    SDL_GL_SetSwapInterval(0);
    return new Context{context};
}

bool makeCurrent(Window* window, Context* context) {
    // What the state cache knows belongs to the context current before.
    if (SDL_GL_GetCurrentContext() != (context ? context->sdl : nullptr)) glstate::forget();
    return SDL_GL_MakeCurrent(window->sdl, context ? context->sdl : nullptr) == 0;
}

bool releaseCurrent(Window* window) {
    glstate::forget();
    return SDL_GL_MakeCurrent(window ? window->sdl : nullptr, nullptr) == 0;
}

bool hasCurrentGLContext() {
    return SDL_GL_GetCurrentContext() != nullptr;
}

void deleteContext(Context* context) {
    if (!context) return;
    if (SDL_GL_GetCurrentContext() == context->sdl) glstate::forget();
    contextDeleted(context->sdl);
    SDL_GL_DeleteContext(context->sdl);
    delete context;
}

bool initGLExtensions() {
    if (!SDL_GL_GetCurrentContext()) return false;
    glewExperimental = GL_TRUE;
    GLenum result = glewInit();
    // Without an X display (EGL offscreen driver) GLEW reports the missing GLX display after the
    // GL part is loaded; that context is still usable.
#ifdef GLEW_ERROR_NO_GLX_DISPLAY
    if (result == GLEW_ERROR_NO_GLX_DISPLAY) result = GLEW_OK;
#endif
    if (result != GLEW_OK) return false;
    glGetError(); // glewInit may leave an error from probing

    caps.multitexture = GLEW_ARB_multitexture;
    caps.shadow = GLEW_ARB_shadow;
    caps.framebufferObject = GLEW_EXT_framebuffer_object || GLEW_ARB_framebuffer_object;
    driverDepthTextureTarget = caps.framebufferObject && GLEW_ARB_depth_texture;
    caps.depthTextureTarget = driverDepthTextureTarget && !depthTextureTargetDisabled;
    caps.vertexBufferObject = GLEW_ARB_vertex_buffer_object;
    caps.fragmentProgram = GLEW_ARB_fragment_program;
    caps.vertexShader = GLEW_ARB_vertex_shader;
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    glGetError();
    caps.maxTextureUnits = units;
    return true;
}

const GLCaps& glCaps() {
    return caps;
}

void setDepthTextureTargetDisabled(bool disabled) {
    depthTextureTargetDisabled = disabled;
    caps.depthTextureTarget = driverDepthTextureTarget && !disabled;
}

bool createHiddenGLContext(int width, int height, HiddenDisplay where) {
    if (hidden) return makeCurrent(hidden, hiddenContext);
    bool up = false;
    if (where == HiddenDisplay::Offscreen && !named("SDL_VIDEODRIVER")) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        up = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
    }
    if (!up && !initVideo(true)) return false;
    Window* window = createWindow("hold fast", width, height, WindowStyle::Overlapped, false);
    if (!window) return false;
    Context* context = createContext(window);
    if (!context || !makeCurrent(window, context) || !initGLExtensions()) {
        deleteContext(context);
        destroyWindow(window);
        return false;
    }
    // The offscreen driver's surface starts reading from the front buffer while drawing goes to
    // the back one, as a window never does: reads see what was drawn under either.
    GLint drawBuffer = 0;
    glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
    if (drawBuffer == GL_BACK) glReadBuffer(GL_BACK);
    glGetError();
    hidden = window;
    hiddenContext = context;
    return true;
}

Window* hiddenWindow() {
    return hidden;
}

namespace {
Key keyOf(SDL_Keycode sym) {
    switch (sym) {
    case SDLK_ESCAPE:
        return Key::Escape;
    case SDLK_SPACE:
        return Key::Space;
    case SDLK_LEFT:
        return Key::Left;
    case SDLK_RIGHT:
        return Key::Right;
    case SDLK_PAGEUP:
        return Key::PageUp;
    case SDLK_PAGEDOWN:
        return Key::PageDown;
    case SDLK_HOME:
        return Key::Home;
    case SDLK_END:
        return Key::End;
    case SDLK_LEFTBRACKET:
        return Key::LeftBracket;
    case SDLK_RIGHTBRACKET:
        return Key::RightBracket;
    case SDLK_l:
        return Key::L;
    case SDLK_r:
        return Key::R;
    case SDLK_s:
        return Key::S;
    case SDLK_UP:
        return Key::Up;
    case SDLK_DOWN:
        return Key::Down;
    case SDLK_g:
        return Key::G;
    case SDLK_h:
        return Key::H;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return Key::Return;
    case SDLK_BACKSPACE:
        return Key::Backspace;
    case SDLK_PERIOD:
    case SDLK_KP_PERIOD:
        return Key::Period;
    case SDLK_COLON:
    case SDLK_SEMICOLON:
        return Key::Colon;
    default:
        break;
    }
    if (sym >= SDLK_0 && sym <= SDLK_9)
        return static_cast<Key>(static_cast<int>(Key::Digit0) + (sym - SDLK_0));
    if (sym >= SDLK_KP_1 && sym <= SDLK_KP_9)
        return static_cast<Key>(static_cast<int>(Key::Digit1) + (sym - SDLK_KP_1));
    if (sym == SDLK_KP_0) return Key::Digit0;
    return Key::Other;
}
} // namespace

namespace {
// Alt+Enter switches between full screen and a window, in every program with a window: the
// window system's own shortcut, handled here before anyone sees the key.
bool toggledFullscreen(const SDL_KeyboardEvent& key) {
    if ((key.keysym.sym != SDLK_RETURN && key.keysym.sym != SDLK_KP_ENTER) || !(key.keysym.mod & KMOD_ALT))
        return false;
    SDL_Window* sdl = SDL_GetWindowFromID(key.windowID);
    Window* window = sdl ? static_cast<Window*>(SDL_GetWindowData(sdl, "holdfast")) : nullptr;
    if (window && !key.repeat) setFullscreen(window, !fullscreenNow(sdl));
    return true;
}

// A window that changed size shows its last frame again at the new size at once where the frame
// target holds it: a program that draws nothing new (a paused preview) would otherwise leave it
// unscaled. A frame drawn into the window itself is gone after its swap; the event tells the
// program to draw it again.
void showAgainAtNewSize(Uint32 windowID) {
    SDL_Window* sdl = SDL_GetWindowFromID(windowID);
    if (sdl && frameTargetHoldsFrame() && SDL_GL_GetCurrentWindow() == sdl) present(sdl);
}
} // namespace

bool pollEvent(Event& event) {
    SDL_Event sdl;
    if (!SDL_PollEvent(&sdl)) return false;
    event = Event{};
    switch (sdl.type) {
    case SDL_QUIT:
        event.type = EventType::Quit;
        break;
    case SDL_KEYDOWN:
        if (toggledFullscreen(sdl.key)) break;
        event.type = EventType::KeyDown;
        event.escape = sdl.key.keysym.sym == SDLK_ESCAPE;
        event.key = keyOf(sdl.key.keysym.sym);
        break;
    case SDL_KEYUP:
        if ((sdl.key.keysym.sym == SDLK_RETURN || sdl.key.keysym.sym == SDLK_KP_ENTER) &&
            (sdl.key.keysym.mod & KMOD_ALT))
            break; // the release of Alt+Enter
        event.type = EventType::KeyUp;
        event.escape = sdl.key.keysym.sym == SDLK_ESCAPE;
        event.key = keyOf(sdl.key.keysym.sym);
        break;
    case SDL_WINDOWEVENT:
        if (sdl.window.event == SDL_WINDOWEVENT_CLOSE)
            event.type = EventType::CloseRequest;
        else if (sdl.window.event == SDL_WINDOWEVENT_FOCUS_GAINED ||
                 sdl.window.event == SDL_WINDOWEVENT_FOCUS_LOST)
            event.type = EventType::Activate;
        else if (sdl.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            showAgainAtNewSize(sdl.window.windowID);
            event.type = EventType::Resized;
        } else if (sdl.window.event == SDL_WINDOWEVENT_EXPOSED)
            event.type = EventType::Exposed;
        break;
    default:
        break;
    }
    return true;
}

void discardPendingInput() {
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_KEYDOWN, SDL_KEYUP);
}

void postQuit() {
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
}

void returnFreeMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void returnLargeBlocksAtOnce() {
#ifdef __GLIBC__
    // Setting the threshold at all stops glibc from raising it after each free of a mapped block.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

// steady_clock needs no initialisation, so the demo clock can be built before main runs.
// Ticks of 100 ns: the clock multiplies tick counts by 1000 in 64 bits, which at nanosecond
// ticks would overflow once the counter (time since boot) passes about 106 days.
int64_t counterFrequency() {
    return 10000000;
}
int64_t counterNow() {
    using Tick = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Tick>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double threadCpuSeconds() {
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0.0;
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

} // namespace platform
