// Cost of switching into a render target and back: one enable + disable pair, empty and with a
// small clear inside, and one nested pair (a target inside a target). Needs a display (run under
// xvfb-run); without one the benchmarks report an error and measure nothing.
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
