// Inside the platform layer: what swapBuffers and the context's end do with the frame target.
#pragma once

namespace platform {

// While frames are drawn into the frame target: scales it into the window's framebuffer
// (drawableWidth x drawableHeight pixels), black around it, and binds the frame target again.
void presentFrameTarget(int drawableWidth, int drawableHeight);
// After a swap: the next frame goes into the window when its drawable is the frame's size, into
// the frame target otherwise.
void frameShown(int drawableWidth, int drawableHeight);
// Whether the last frame is in the frame target (so it can be shown again at another size).
bool frameTargetHoldsFrame();
// The GL context `context` (an SDL_GLContext) is being deleted: a frame target made in it goes
// with it.
void contextDeleted(void* context);

} // namespace platform
