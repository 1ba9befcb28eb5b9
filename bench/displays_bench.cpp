// Per-display frame cost on the built-in test card, as ns per source pixel
// and Mpixel/s. Renderers are driven directly, as the host's runProc would.
#include <benchmark/benchmark.h>

#include "modes/display_unit.h"
#include "params/param_stage.h"
#include "support/image.h"

namespace {

void renderDisplay(benchmark::State& state, DisplayMode mode) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    const int32_t h = static_cast<int32_t>(state.range(1));
    const StoredFrame src(testCard(w, h));
    static ScopeInstance inst;  // large: keep it off the stack
    inst = ScopeInstance{};
    inst.settings = kDefaultSettings;
    inst.settings.mode = static_cast<int32_t>(mode);
    OutputGeometry g{w, h, 4 * static_cast<ptrdiff_t>(w)};
    runParamStage(inst, g);
    StoredFrame out(g.w, g.h, static_cast<int32_t>(g.pitch / 4) - g.w);
    const DisplayUnit& unit = kDisplayUnits[static_cast<int>(mode)];
    for (auto _ : state) {
        unit.render(inst, src.constFrame(), out.frame());
        benchmark::ClobberMemory();
    }
    const double pixels = static_cast<double>(w) * h;
    // An inverted rate of (pixels / 1e9) per second reads as nanoseconds per pixel.
    state.counters["ns/px"] = benchmark::Counter(
        pixels * static_cast<double>(state.iterations()) / 1e9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["Mpx/s"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({720, 576})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_CAPTURE(renderDisplay, video, DisplayMode::Video)->Apply(sizes);
BENCHMARK_CAPTURE(renderDisplay, hotpixel, DisplayMode::HotPixel)->Apply(sizes);
BENCHMARK_CAPTURE(renderDisplay, histograms, DisplayMode::Histograms)->Apply(sizes);
BENCHMARK_CAPTURE(renderDisplay, waveform, DisplayMode::Waveform)->Apply(sizes);
BENCHMARK_CAPTURE(renderDisplay, vectorscope, DisplayMode::Vectorscope)->Apply(sizes);
