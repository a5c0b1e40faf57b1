// Costs of the sound chain: the FFT unit's transform, the oscilloscope capture of one block, and
// one offline render (decode, mix and DSP chain) of the bundled music at a frame time.
#include "sound/OscilloscopeTap.h"
#include "sound/SoundSystem.h"
#include "sound/SpectrumTap.h"
#include "sound/TesselMusic.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void BM_Spectrum(benchmark::State& state) {
    std::vector<float> samples(sound::kFFTSize), magnitudes(sound::kSpectrumSize);
    for (int i = 0; i < sound::kFFTSize; ++i)
        samples[i] = static_cast<float>(std::sin(i * 0.3) * 0.5);
    for (auto _ : state) {
        sound::computeSpectrum(samples.data(), magnitudes.data());
        benchmark::DoNotOptimize(magnitudes.data());
    }
}
BENCHMARK(BM_Spectrum);

void BM_OscilloscopeCapture(benchmark::State& state) {
    sound::setOfflineMode(true, 1024, 4);
    tesselMusic.initSound();
    OscilloscopeTap::start();
    std::vector<int16_t> block(1024 * 2, 1234);
    for (auto _ : state)
        benchmark::DoNotOptimize(OscilloscopeTap::capture(nullptr, block.data(), 1024, nullptr));
    OscilloscopeTap::stop();
    tesselMusic.closeSound();
    sound::setOfflineMode(false);
}
BENCHMARK(BM_OscilloscopeCapture);

// HOLDFAST_BENCH_MUSIC, or the bundled demo's music in build/demo.
void BM_OfflineRenderAtFrameTimes(benchmark::State& state) {
    const char* env = getenv("HOLDFAST_BENCH_MUSIC");
    const std::string music = env ? env : std::string(HOLDFAST_SOURCE_DIR) + "/build/demo/music.ogg";
    sound::setOfflineMode(true);
    tesselMusic.initSound();
    if (!tesselMusic.openStream(music.c_str())) {
        state.SkipWithError(("no music at " + music + " (run tools/make-demo.sh build)").c_str());
        tesselMusic.closeSound();
        return;
    }
    tesselMusic.play();
    spectrumTap::activate();
    OscilloscopeTap::start();
    int t = 30000;
    for (auto _ : state) {
        sound::renderOfflineAt(t); // frames 40 ms apart, as a 25 fps capture makes them
        benchmark::DoNotOptimize(spectrumTap::read());
        t += 40;
    }
    OscilloscopeTap::stop();
    tesselMusic.closeSound();
    sound::setOfflineMode(false);
}
BENCHMARK(BM_OfflineRenderAtFrameTimes)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
