// GL contexts for off-screen render targets: each shares texture objects with the context that
// was current at its creation and draws through that context's window (its own framebuffer
// object does the real work).
#pragma once

namespace platform {

struct RenderContext; // opaque

// What is current on this thread: a window and a GL context (both null when nothing is).
struct Binding {
    void* window = nullptr;
    void* context = nullptr;
};
Binding currentBinding();
// Makes the binding current; a null context makes nothing current. False on failure.
bool makeBindingCurrent(const Binding& binding);

// A new context sharing objects with the current one, on the current window; the current
// binding is left as it was. nullptr when nothing is current or creation fails.
RenderContext* createSharedContext();
bool makeCurrent(RenderContext* context);
// The binding that makeCurrent(context) establishes.
Binding bindingOf(const RenderContext* context);
// Deletes the context; if it is current, nothing is current afterwards.
void deleteRenderContext(RenderContext* context);

} // namespace platform
