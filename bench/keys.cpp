// Key insertion as the script loader does it: keys arrive in script order, which is usually time
// order, so each one lands just before the track's end key.
#include "demo/DemoState.h"
#include "demo/Variable.h"

#include <benchmark/benchmark.h>

namespace {

void BM_AddKeysInTimeOrder(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    trackEndTime = 2 * count + 10;
    for (auto _ : state) {
        FloatVariable variable;
        for (int i = 0; i < count; ++i)
            variable.addKey(static_cast<float>(i & 1), 1 + 2 * i);
        benchmark::DoNotOptimize(variable.keys.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.SetComplexityN(count);
}
BENCHMARK(BM_AddKeysInTimeOrder)
    ->RangeMultiplier(4)
    ->Range(1000, 256000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// BEGIN/END pairs on an effect's active track, which starts with its keys at 0 and the end time.
void BM_AddActiveTrackKeys(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    trackEndTime = 2 * count + 10;
    for (auto _ : state) {
        BoolVariable active;
        active.addKey(0.0f, 0);
        for (int i = 0; i < count; ++i)
            active.addKey(static_cast<float>(i & 1), 1 + 2 * i);
        benchmark::DoNotOptimize(active.keys.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_AddActiveTrackKeys)->Arg(200000)->Unit(benchmark::kMillisecond);

// Keys in reverse time order still go in one by one (the slow case the loader never relies on).
void BM_AddKeysInReverseOrder(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    trackEndTime = 2 * count + 10;
    for (auto _ : state) {
        FloatVariable variable;
        for (int i = count; i > 0; --i)
            variable.addKey(0.5f, 2 * i);
        benchmark::DoNotOptimize(variable.keys.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_AddKeysInReverseOrder)->Arg(20000)->Unit(benchmark::kMillisecond);

// A frame's lookup of a keyed parameter: with no sync editor attached (the player's case), with an
// editor track that holds no keys (the preview's --rocket without edits), and with one that does.
struct EditorTrack : VariableOverride {
    bool holdsKeys = false;
    bool valueAt(int time, double& value) const override {
        if (!holdsKeys) return false;
        value = time * 1e-6;
        return true;
    }
};

void BM_LookupKeyedParameter(benchmark::State& state) {
    trackEndTime = 1000000;
    FloatVariable variable;
    for (int i = 0; i < 64; ++i)
        variable.addKey(static_cast<float>(i & 1), 1000 + 1000 * i);
    EditorTrack track;
    track.holdsKeys = state.range(0) == 2;
    if (state.range(0) > 0) variable.override = &track;
    int time = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(variable.valueAt(time));
        time = (time + 997) % 66000;
    }
    state.SetLabel(state.range(0) == 0   ? "no editor"
                   : state.range(0) == 1 ? "editor, no keys"
                                         : "editor keys");
}
BENCHMARK(BM_LookupKeyedParameter)->Arg(0)->Arg(1)->Arg(2);

} // namespace

BENCHMARK_MAIN();
