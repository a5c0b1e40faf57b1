// Driving a program's X11 window from a test: find it, press Escape, ask it to close.
#pragma once

#include <string>

// Waits up to timeoutMs for a mapped top-level window with this title; returns its id or 0.
unsigned long waitForWindow(const std::string& title, int timeoutMs);
// Sends a key press and release of Escape to the window.
bool sendEscape(unsigned long window);
// Sends the window manager's close request (WM_DELETE_WINDOW).
bool sendCloseRequest(unsigned long window);
