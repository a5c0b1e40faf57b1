// Driving a program's X11 window from a test: find it, press Escape, ask it to close.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Waits up to timeoutMs for a mapped window with this title that belongs to process `pid`
// (any process when pid is 0); returns its id or 0.
unsigned long waitForWindow(const std::string& title, int timeoutMs, long pid = 0);
// Sends a key press and release of Escape to the window.
bool sendEscape(unsigned long window);
// Sends the window manager's close request (WM_DELETE_WINDOW).
bool sendCloseRequest(unsigned long window);

// Waits up to timeoutMs for a mapped window of process `pid` whose title starts with `prefix`.
unsigned long waitForWindowTitled(const std::string& prefix, int timeoutMs, long pid);
// The window's title ("" when it has none or is gone).
std::string windowTitle(unsigned long window);
// Waits up to timeoutMs until the title contains every one of `parts`; returns the last title seen.
std::string waitForTitle(unsigned long window, const std::vector<std::string>& parts, int timeoutMs);
// Sends a key press and release; `key` is an X keysym name ("space", "Right", "bracketleft", "r").
bool sendKey(unsigned long window, const std::string& key);
// Sends presses and releases of several keys at once (one connection, one flush): the program
// finds them all waiting together, as keys pressed faster than it reads them.
bool sendKeys(unsigned long window, const std::vector<std::string>& keys);
// Presses the keys in order and releases them in reverse (a chord: {"Alt_L", "Return"}).
bool sendChord(unsigned long window, const std::vector<std::string>& keys);
// Asks the X server to give the window this size (no window manager needed).
bool resizeWindow(unsigned long window, int width, int height);
// The window's size, {0, 0} when it is gone.
std::pair<int, int> windowSize(unsigned long window);
// The root window: the whole screen, for grabWindow.
unsigned long rootWindow();
// The window's pixels as RGB, top row first (empty on failure). What covers the window on the
// screen is read too: a test reading back a window wants a PrivateDisplay.
std::vector<unsigned char> grabWindow(unsigned long window, int width, int height);
// Maps a white window over the window for `ms` and takes it away again, as another program's
// window that comes and goes: the window is left to paint what was covered.
bool coverWindow(unsigned long window, int ms);

// An X server of the test's own (Xvfb) that DISPLAY names while the object lives, so that windows
// of tests running at the same time cannot cover a window the test reads back.
class PrivateDisplay {
  public:
    PrivateDisplay();
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;
    bool ok() const { return !name_.empty(); }

  private:
    long pid_ = -1;
    std::string name_, previous_;
    bool hadPrevious_ = false;
};
