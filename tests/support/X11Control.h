// Driving a program's X11 window from a test: find it, press Escape, ask it to close.
#pragma once

#include <string>

// Waits up to timeoutMs for a mapped window with this title that belongs to process `pid`
// (any process when pid is 0); returns its id or 0.
unsigned long waitForWindow(const std::string& title, int timeoutMs, long pid = 0);
// Sends a key press and release of Escape to the window.
bool sendEscape(unsigned long window);
// Sends the window manager's close request (WM_DELETE_WINDOW).
bool sendCloseRequest(unsigned long window);
