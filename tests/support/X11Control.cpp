#include "X11Control.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
long windowPid(Display* display, Window window) {
    Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    if (pidAtom == None) return 0;
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                           &data) == Success &&
        data && items == 1 && format == 32)
        pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return pid;
}

// `title` matched whole, or as a prefix when `prefix`.
Window findByName(Display* display, Window root, const std::string& title, long pid, bool prefix = false) {
    Window parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name) {
            XWindowAttributes attributes;
            const bool matches = prefix ? std::string(name).rfind(title, 0) == 0 : title == name;
            if (matches && XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable && (pid == 0 || windowPid(display, children[i]) == pid))
                found = children[i];
            XFree(name);
        }
        if (!found) found = findByName(display, children[i], title, pid, prefix);
    }
    if (children) XFree(children);
    return found;
}

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}
} // namespace

unsigned long waitForWindow(const std::string& title, int timeoutMs, long pid) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0;
    XSetErrorHandler(ignoreErrors);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Window found = 0;
    while (!found && std::chrono::steady_clock::now() < end) {
        found = findByName(display, DefaultRootWindow(display), title, pid);
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    XCloseDisplay(display);
    return found;
}

bool sendEscape(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XSetErrorHandler(ignoreErrors);
    XKeyEvent key;
    memset(&key, 0, sizeof key);
    key.display = display;
    key.window = window;
    key.root = DefaultRootWindow(display);
    key.same_screen = True;
    key.keycode = XKeysymToKeycode(display, XK_Escape);
    key.type = KeyPress;
    XSendEvent(display, window, True, KeyPressMask, reinterpret_cast<XEvent*>(&key));
    key.type = KeyRelease;
    XSendEvent(display, window, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&key));
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

bool sendCloseRequest(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XSetErrorHandler(ignoreErrors);
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

unsigned long waitForWindowTitled(const std::string& prefix, int timeoutMs, long pid) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0;
    XSetErrorHandler(ignoreErrors);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Window found = 0;
    while (!found && std::chrono::steady_clock::now() < end) {
        found = findByName(display, DefaultRootWindow(display), prefix, pid, true);
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    XCloseDisplay(display);
    return found;
}

std::string windowTitle(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return "";
    XSetErrorHandler(ignoreErrors);
    std::string title;
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    XCloseDisplay(display);
    return title;
}

std::string waitForTitle(unsigned long window, const std::vector<std::string>& parts, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string title;
    for (;;) {
        title = windowTitle(window);
        bool all = true;
        for (const std::string& part : parts)
            all = all && title.find(part) != std::string::npos;
        if (all || std::chrono::steady_clock::now() >= end) return title;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

bool sendKeys(unsigned long window, const std::vector<std::string>& keys) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XSetErrorHandler(ignoreErrors);
    bool ok = true;
    for (const std::string& key : keys) {
        const KeySym sym = XStringToKeysym(key.c_str());
        if (sym == NoSymbol) {
            ok = false;
            continue;
        }
        XKeyEvent event;
        memset(&event, 0, sizeof event);
        event.display = display;
        event.window = window;
        event.root = DefaultRootWindow(display);
        event.same_screen = True;
        event.keycode = XKeysymToKeycode(display, sym);
        event.type = KeyPress;
        XSendEvent(display, window, True, KeyPressMask, reinterpret_cast<XEvent*>(&event));
        event.type = KeyRelease;
        XSendEvent(display, window, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&event));
    }
    XSync(display, False);
    XCloseDisplay(display);
    return ok;
}

bool sendKey(unsigned long window, const std::string& key) {
    return sendKeys(window, {key});
}

bool sendChord(unsigned long window, const std::vector<std::string>& keys) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XSetErrorHandler(ignoreErrors);
    XKeyEvent event;
    memset(&event, 0, sizeof event);
    event.display = display;
    event.window = window;
    event.root = DefaultRootWindow(display);
    event.same_screen = True;
    bool ok = true;
    std::vector<KeyCode> codes;
    for (const std::string& key : keys) {
        const KeySym sym = XStringToKeysym(key.c_str());
        ok = ok && sym != NoSymbol;
        if (sym != NoSymbol) codes.push_back(XKeysymToKeycode(display, sym));
    }
    event.type = KeyPress;
    for (KeyCode code : codes) {
        event.keycode = code;
        XSendEvent(display, window, True, KeyPressMask, reinterpret_cast<XEvent*>(&event));
        if (code == XKeysymToKeycode(display, XK_Alt_L)) event.state |= Mod1Mask;
    }
    event.type = KeyRelease;
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
        event.keycode = *code;
        XSendEvent(display, window, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&event));
    }
    XSync(display, False);
    XCloseDisplay(display);
    return ok;
}

bool resizeWindow(unsigned long window, int width, int height) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XSetErrorHandler(ignoreErrors);
    XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

std::pair<int, int> windowSize(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return {0, 0};
    XSetErrorHandler(ignoreErrors);
    XWindowAttributes attributes;
    std::pair<int, int> size{0, 0};
    if (XGetWindowAttributes(display, window, &attributes)) size = {attributes.width, attributes.height};
    XCloseDisplay(display);
    return size;
}

unsigned long rootWindow() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0;
    const unsigned long root = DefaultRootWindow(display);
    XCloseDisplay(display);
    return root;
}

std::vector<unsigned char> grabWindow(unsigned long window, int width, int height) {
    std::vector<unsigned char> rgb;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return rgb;
    XSetErrorHandler(ignoreErrors);
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image) {
        rgb.resize(static_cast<size_t>(width) * height * 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                unsigned char* out = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                out[0] = static_cast<unsigned char>((p & image->red_mask) >> 16);
                out[1] = static_cast<unsigned char>((p & image->green_mask) >> 8);
                out[2] = static_cast<unsigned char>(p & image->blue_mask);
            }
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return rgb;
}

PrivateDisplay::PrivateDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            dup2(null, 2);
        }
        const std::string fd = std::to_string(fds[1]);
        // -displayfd: the server picks a free display and writes its number there when ready.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return;
    }
    pid_ = child;
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty()) return;
    const char* previous = getenv("DISPLAY");
    hadPrevious_ = previous != nullptr;
    if (previous) previous_ = previous;
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
}

PrivateDisplay::~PrivateDisplay() {
    if (!name_.empty()) {
        if (hadPrevious_)
            setenv("DISPLAY", previous_.c_str(), 1);
        else
            unsetenv("DISPLAY");
    }
    if (pid_ > 0) {
        kill(static_cast<pid_t>(pid_), SIGTERM);
        waitpid(static_cast<pid_t>(pid_), nullptr, 0);
    }
}

bool coverWindow(unsigned long window, int ms) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XSetErrorHandler(ignoreErrors);
    XWindowAttributes a;
    Window child;
    int x = 0, y = 0;
    const bool found = XGetWindowAttributes(display, window, &a) &&
                       XTranslateCoordinates(display, window, a.root, 0, 0, &x, &y, &child);
    if (found) {
        const unsigned long white = WhitePixel(display, DefaultScreen(display));
        const Window cover = XCreateSimpleWindow(display, a.root, x, y, static_cast<unsigned>(a.width),
                                                 static_cast<unsigned>(a.height), 0, white, white);
        XSetWindowAttributes over;
        over.override_redirect = True;
        XChangeWindowAttributes(display, cover, CWOverrideRedirect, &over);
        XMapRaised(display, cover);
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        XUnmapWindow(display, cover);
        XDestroyWindow(display, cover);
        XSync(display, False);
    }
    XCloseDisplay(display);
    return found;
}
