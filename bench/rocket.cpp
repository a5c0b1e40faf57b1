// The Rocket client's key store under an editor's flood: what one frame's keys cost when they
// land below every key of a big track (each would be a front insert one by one), and what a
// frame's lookup costs in such a track.
#include "rocket/RocketTrack.h"

#include <benchmark/benchmark.h>

namespace {

using rocket::Interpolation;
using rocket::Track;

// The link reads at most 64 KiB a frame: 4681 keys of 14 bytes.
constexpr uint32_t kKeysAFrame = 65536 / 14;
constexpr uint32_t kTop = 100000000;

Track heldTrack(uint32_t held) {
    Track t;
    for (uint32_t r = 0; r < held; ++r)
        t.setKey({kTop + r, 0.5f, Interpolation::Linear});
    return t;
}

void BM_AFramesKeysOnFallingRows(benchmark::State& state) {
    const Track base = heldTrack(static_cast<uint32_t>(state.range(0)));
    uint32_t row = kTop;
    for (auto _ : state) {
        state.PauseTiming();
        Track t = base;
        state.ResumeTiming();
        for (uint32_t i = 0; i < kKeysAFrame; ++i)
            t.setKey({--row, 0.25f, Interpolation::Step});
        benchmark::DoNotOptimize(t.size()); // the merge
        if (row < kKeysAFrame) row = kTop;
    }
    state.SetItemsProcessed(state.iterations() * kKeysAFrame);
}
BENCHMARK(BM_AFramesKeysOnFallingRows)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_LookupInABigTrack(benchmark::State& state) {
    rocket::LiveTrack live;
    live.track = heldTrack(static_cast<uint32_t>(state.range(0)));
    live.rowMs = 25;
    live.trackEnd = 2000000000;
    int time = 0;
    for (auto _ : state) {
        double value = 0;
        benchmark::DoNotOptimize(live.valueAt(time, value));
        time = (time + 997) % 1000000000;
    }
}
BENCHMARK(BM_LookupInABigTrack)->Arg(1000)->Arg(1000000);

} // namespace

BENCHMARK_MAIN();
