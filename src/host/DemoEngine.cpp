#include "host/DemoEngine.h"

#include "base/Report.h"
#include "base/RunState.h"
#include "platform/Platform.h"

DemoEngine::DemoEngine(const char* titleText, int width, int height, int, bool wantFullscreen, void*)
    : title(titleText) {
    if (!platform::initVideo()) {
        report::showBox("error", "could not register window class", report::BoxStyle::IconInformation, false);
        return;
    }
    videoUp = true;

    // Full screen covers the desktop at its own resolution, the frame scaled into it: no display
    // mode is switched, so only a display that cannot show a window full screen at all refuses.
    bool fullscreenNow = false;
    if (wantFullscreen) {
        if (platform::desktopFullscreenAvailable()) {
            fullscreenNow = true;
        } else if (!report::askYesNo("Error", "requested fullscreen mode not supported, run windowed?",
                                     true)) {
            return;
        }
    }

    // A fullscreen request keeps the popup style even after falling back to a window.
    platform::WindowStyle style =
        wantFullscreen ? platform::WindowStyle::Popup : platform::WindowStyle::Overlapped;
    window = platform::createWindow(title.c_str(), width, height, style, fullscreenNow);
    if (!window && fullscreenNow) {
        // Refused when it came to it: the same question, then a window.
        if (!report::askYesNo("Error", "requested fullscreen mode not supported, run windowed?", true)) {
            shutdown();
            return;
        }
        fullscreenNow = false;
        window = platform::createWindow(title.c_str(), width, height, style, false);
    }
    if (!window) {
        shutdown();
        report::showBox("error", "window creation error", report::BoxStyle::IconExclamation, false);
        return;
    }

    context = platform::createContext(window);
    if (!context) {
        shutdown();
        reportError(__FILE__, __LINE__, "DemoEngine: Could not create GL context", true);
    }
    if (!platform::makeCurrent(window, context)) {
        shutdown();
        reportError(__FILE__, __LINE__, "DemoEngine: Could not activate GL context", true);
    }
    fullscreen = fullscreenNow;
    platform::showWindow(window);
    ok = true;
}

void DemoEngine::shutdown() {
    // Alt+Enter may have changed it since.
    if (window && platform::isFullscreen(window)) platform::setFullscreen(window, false);
    if (fullscreen) {
        platform::showCursor(true);
        fullscreen = false;
    }
    if (context) {
        if (!platform::releaseCurrent(window))
            reportError(__FILE__, __LINE__, "DemoEngine: could not reset device context", true);
        platform::deleteContext(context);
        context = nullptr;
    }
    if (window) {
        platform::destroyWindow(window);
        window = nullptr;
    }
    if (videoUp) {
        platform::quitVideo();
        videoUp = false;
    }
}

void DemoEngine::swapBuffers() {
    if (window) platform::swapBuffers(window);
}

void DemoEngine::windowProc(const platform::Event& event) {
    if (!inputEnabled) return;
    switch (event.type) {
    case platform::EventType::CloseRequest:
        platform::postQuit();
        break;
    case platform::EventType::KeyDown:
        if (event.escape) quitRequested = true;
        break;
    default:
        break;
    }
}
