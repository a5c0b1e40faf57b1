#include "platform/FrameTarget.h"

#include "platform/GL.h"
#include "platform/Platform.h"
#include <SDL.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {
struct Frame {
    GLuint framebuffer = 0;
    GLuint colour = 0;
    GLuint depthStencil = 0;
    int width = 0;
    int height = 0;
    Scaling scaling = Scaling::Linear;
    SDL_GLContext context = nullptr; // the context the objects live in
    bool inUse = false;              // frames are drawn into it, not into the window
};
Frame frame;

// Frames go into the window itself while its drawable is exactly the frame's size, and into the
// frame target otherwise. Drawn into a window, llvmpipe takes an 8-bit path for simple textured
// drawing that it does not take for a framebuffer object, which rounds a few pixels one level
// apart: so an unscaled window, and the capture tool's, show exactly the pixels they always did.
void chooseFor(int drawableWidth, int drawableHeight) {
    const bool scaled = drawableWidth != frame.width || drawableHeight != frame.height;
    if (scaled == frame.inUse) return;
    frame.inUse = scaled;
    glBindFramebuffer(GL_FRAMEBUFFER, scaled ? frame.framebuffer : 0);
}

void deleteObjects() {
    if (frame.framebuffer) glDeleteFramebuffers(1, &frame.framebuffer);
    if (frame.colour) glDeleteRenderbuffers(1, &frame.colour);
    if (frame.depthStencil) glDeleteRenderbuffers(1, &frame.depthStencil);
    frame = Frame{};
}
} // namespace

Scaling scalingFromEnvironment() {
    const char* value = getenv("HOLDFAST_SCALE");
    return value && strcmp(value, "nearest") == 0 ? Scaling::Nearest : Scaling::Linear;
}

FrameRect frameRectIn(int frameWidth, int frameHeight, int drawableWidth, int drawableHeight,
                      Scaling scaling) {
    if (frameWidth <= 0 || frameHeight <= 0 || drawableWidth <= 0 || drawableHeight <= 0) return {0, 0, 0, 0};
    const long long fw = frameWidth, fh = frameHeight, dw = drawableWidth, dh = drawableHeight;
    long long width = dw, height = dh;
    const long long factor = dw / fw < dh / fh ? dw / fw : dh / fh;
    if (scaling == Scaling::Nearest && factor >= 1) {
        width = fw * factor;
        height = fh * factor;
    } else if (dw * fh > dh * fw) {
        width = (dh * fw * 2 + fh) / (fh * 2); // wider than the frame: bars left and right
    } else {
        height = (dw * fh * 2 + fw) / (fw * 2); // bars above and below (or none)
    }
    return {static_cast<int>((dw - width) / 2), static_cast<int>((dh - height) / 2), static_cast<int>(width),
            static_cast<int>(height)};
}

bool createFrameTarget(int width, int height) {
    if (frame.framebuffer) {
        if (frame.width == width && frame.height == height) return true;
        deleteObjects();
    }
    // Blitting scales it into the window; without a blit there is nothing to show it with.
    if (!glBlitFramebuffer || width <= 0 || height <= 0) return false;
    while (glGetError() != GL_NO_ERROR) {
    }
    frame.width = width;
    frame.height = height;
    frame.scaling = scalingFromEnvironment();
    frame.context = SDL_GL_GetCurrentContext();
    glGenFramebuffers(1, &frame.framebuffer);
    glGenRenderbuffers(1, &frame.colour);
    glGenRenderbuffers(1, &frame.depthStencil);
    glBindFramebuffer(GL_FRAMEBUFFER, frame.framebuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, frame.colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, frame.colour);
    glBindRenderbuffer(GL_RENDERBUFFER, frame.depthStencil);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, frame.depthStencil);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, frame.depthStencil);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    // The framebuffer object keeps these: drawing, copies and reads all go to the one colour buffer.
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete || glGetError() != GL_NO_ERROR) {
        deleteObjects();
        while (glGetError() != GL_NO_ERROR) {
        }
        return false;
    }
    // What is drawn before the first frame sets its viewport (the loading picture) covers the
    // frame, not a window of another size.
    glViewport(0, 0, width, height);
    frame.inUse = false;
    int drawableWidth = width, drawableHeight = height;
    if (SDL_Window* window = SDL_GL_GetCurrentWindow())
        SDL_GL_GetDrawableSize(window, &drawableWidth, &drawableHeight);
    chooseFor(drawableWidth, drawableHeight);
    return true;
}

void deleteFrameTarget() {
    if (!frame.framebuffer) return;
    if (SDL_GL_GetCurrentContext() != frame.context) {
        frame = Frame{}; // not reachable from here; the objects go with their context
        return;
    }
    if (frame.inUse) glBindFramebuffer(GL_FRAMEBUFFER, 0);
    deleteObjects();
}

unsigned int frameFramebuffer() {
    return frame.inUse ? frame.framebuffer : 0;
}

bool frameTargetHoldsFrame() {
    return frame.inUse;
}

void contextDeleted(void* context) {
    if (frame.framebuffer && context == frame.context) frame = Frame{};
}

void presentFrameTarget(int drawableWidth, int drawableHeight) {
    if (!frame.inUse || SDL_GL_GetCurrentContext() != frame.context) return;
    const FrameRect to = frameRectIn(frame.width, frame.height, drawableWidth, drawableHeight, frame.scaling);
    const bool bars = to.x > 0 || to.y > 0 || to.width < drawableWidth || to.height < drawableHeight;
    // A whole multiple (a 200 % desktop's window) keeps every pixel sharp: each becomes a square
    // of them. Filtering is for the sizes in between.
    const bool wholeMultiple = to.width % frame.width == 0 && to.height % frame.height == 0 &&
                               to.width / frame.width == to.height / frame.height;
    const GLenum filter = frame.scaling == Scaling::Nearest || wholeMultiple ? GL_NEAREST : GL_LINEAR;
    // A blit and a clear obey the scissor test and a clear the colour mask; the demo's own
    // settings of both come back afterwards.
    const glstate::State& now = glstate::current();
    const bool scissor = now.isOn(GL_SCISSOR_TEST);
    const GLboolean* mask = now.colourMask;
    const GLboolean kept[4] = {mask[0], mask[1], mask[2], mask[3]};
    const bool masked = !(kept[0] && kept[1] && kept[2] && kept[3]);
    const GLfloat clearColour[4] = {now.clearColour[0], now.clearColour[1], now.clearColour[2],
                                    now.clearColour[3]};
    if (scissor) glDisable(GL_SCISSOR_TEST);
    if (masked) glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    if (bars) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    }
    if (to.width > 0 && to.height > 0)
        glBlitFramebuffer(0, 0, frame.width, frame.height, to.x, to.y, to.x + to.width, to.y + to.height,
                          GL_COLOR_BUFFER_BIT, filter);
    glBindFramebuffer(GL_FRAMEBUFFER, frame.framebuffer);
    if (masked) glColorMask(kept[0], kept[1], kept[2], kept[3]);
    if (scissor) glEnable(GL_SCISSOR_TEST);
}

void frameShown(int drawableWidth, int drawableHeight) {
    if (frame.framebuffer && SDL_GL_GetCurrentContext() == frame.context)
        chooseFor(drawableWidth, drawableHeight);
}

} // namespace platform
