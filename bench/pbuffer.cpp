// Cost of switching into a render target and back: one enable + disable pair, empty and with a
// small clear inside, and one nested pair (a target inside a target); beside them the same clear
// in plain GL (bind a framebuffer object and its viewport, clear, bind the window's again), the
// yardstick for EnableClearDisable. Needs a display (run under xvfb-run); without one the
// benchmarks report an error and measure nothing.
#include "resources/PBuffer.h"
#include "platform/GL.h"
#include "platform/Platform.h"

#include <benchmark/benchmark.h>

namespace {

bool haveContext() {
    static const bool ok = platform::createHiddenGLContext(800, 600);
    return ok;
}

void EnableDisable(benchmark::State& state) {
    if (!haveContext()) {
        state.SkipWithError("no GL context");
        return;
    }
    PBuffer target;
    target.initialize(static_cast<int>(state.range(0)), static_cast<int>(state.range(0)), false);
    target.enable();
    target.disable();
    for (auto _ : state) {
        target.enable();
        target.disable();
    }
    glFinish();
}
BENCHMARK(EnableDisable)->Arg(64)->Arg(512)->Unit(benchmark::kMicrosecond);

void EnableClearDisable(benchmark::State& state) {
    if (!haveContext()) {
        state.SkipWithError("no GL context");
        return;
    }
    PBuffer target;
    target.initialize(64, 64, false);
    for (auto _ : state) {
        target.enable();
        glClear(GL_COLOR_BUFFER_BIT);
        target.disable();
    }
    glFinish();
}
BENCHMARK(EnableClearDisable)->Unit(benchmark::kMicrosecond);

// What EnableClearDisable does, written directly in GL without any state kept per target.
void PlainFramebufferClear(benchmark::State& state) {
    if (!haveContext()) {
        state.SkipWithError("no GL context");
        return;
    }
    GLuint framebuffer = 0, colour = 0, depth = 0;
    glGenTextures(1, &colour);
    glBindTexture(GL_TEXTURE_2D, colour);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, 64, 64);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    for (auto _ : state) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glViewport(0, 0, 64, 64);
        glClear(GL_COLOR_BUFFER_BIT);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    }
    glFinish();
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &depth);
    glDeleteTextures(1, &colour);
}
BENCHMARK(PlainFramebufferClear)->Unit(benchmark::kMicrosecond);

void NestedPair(benchmark::State& state) {
    if (!haveContext()) {
        state.SkipWithError("no GL context");
        return;
    }
    PBuffer outer, inner;
    outer.initialize(64, 64, false);
    inner.initialize(64, 64, false);
    for (auto _ : state) {
        outer.enable();
        inner.enable();
        inner.disable();
        outer.disable();
    }
    glFinish();
}
BENCHMARK(NestedPair)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
