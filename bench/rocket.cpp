// The Rocket client's key store under an editor's flood: what one frame's keys cost when they
// land below every key of a big track, what they cost on rows scattered through it (a merge),
// and what a frame's lookup costs in such a track.
#include "rocket/RocketTrack.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using rocket::Interpolation;
using rocket::Track;

// The link reads at most 64 KiB a frame: 4681 keys of 14 bytes.
constexpr uint32_t kKeysAFrame = 65536 / 14;
constexpr uint32_t kTop = 100000000;

Track heldTrack(uint32_t held) {
    Track t;
    for (uint32_t r = 0; r < held; ++r)
        t.setKey({kTop + 2 * r, 0.5f, Interpolation::Linear}); // even rows: room for others between
    return t;
}

void BM_AFramesKeysOnFallingRows(benchmark::State& state) {
    // One track through the whole flood, as the link holds it: each frame's keys land below the
    // last frame's (taken out again untimed, so the track keeps its size).
    Track t = heldTrack(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) {
        for (uint32_t i = 1; i <= kKeysAFrame; ++i)
            t.setKey({kTop - i, 0.25f, Interpolation::Step});
        benchmark::DoNotOptimize(t.size()); // the merge, if any
        state.PauseTiming();
        for (uint32_t i = kKeysAFrame; i >= 1; --i)
            t.deleteKey(kTop - i);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeysAFrame);
}
BENCHMARK(BM_AFramesKeysOnFallingRows)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_AFramesKeysOnScatteredRows(benchmark::State& state) {
    // Keys between the track's own, spread over it: they wait for one merge when read.
    const uint32_t held = static_cast<uint32_t>(state.range(0));
    Track t = heldTrack(held);
    uint32_t seed = 1;
    std::vector<uint32_t> rows(kKeysAFrame);
    for (auto _ : state) {
        state.PauseTiming();
        for (uint32_t& row : rows)
            row = kTop + 2 * ((seed = seed * 1103515245u + 12345u) % held) + 1;
        state.ResumeTiming();
        for (uint32_t row : rows)
            t.setKey({row, 0.25f, Interpolation::Step});
        benchmark::DoNotOptimize(t.size()); // the merge
        state.PauseTiming();
        for (uint32_t row : rows)
            t.deleteKey(row);
        benchmark::DoNotOptimize(t.size());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeysAFrame);
}
BENCHMARK(BM_AFramesKeysOnScatteredRows)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

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
