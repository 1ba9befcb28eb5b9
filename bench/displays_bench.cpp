// Per-display frame cost on the built-in test card, as ns per source pixel
// and Mpixel/s. Renderers are driven directly, as the host's runProc would.
#include <benchmark/benchmark.h>

#include <utility>

#include "modes/display_table.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/test_card.h"

namespace {

void displayCost(benchmark::State& state, DisplayMode mode) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    const int32_t h = static_cast<int32_t>(state.range(1));
    FrameBuffer src(w, h, kBytesPerPixel * static_cast<ptrdiff_t>(w));
    fillTestCard(src.frame());
    static ScopeInstance inst;  // large: keep it off the stack
    inst = ScopeInstance{};
    inst.settings = kDefaultSettings;
    inst.settings.mode = static_cast<int32_t>(mode);
    OutputGeometry g{w, h, 4 * static_cast<ptrdiff_t>(w)};
    prepareDisplay(inst, g);
    FrameBuffer out(g.w, g.h, g.pitch);
    const DisplayUnit& unit = kDisplayUnits[static_cast<int>(mode)];
    const ConstFrame in = std::as_const(src).frame();
    for (auto _ : state) {
        unit.render(inst, in, out.frame());
        benchmark::ClobberMemory();
    }
    const double pixels = static_cast<double>(w) * h;
    // An inverted rate of (pixels / 1e9) per second reads as nanoseconds per pixel.
    state.counters["ns/px"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e9,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["Mpx/s"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({720, 576})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_CAPTURE(displayCost, video, DisplayMode::Video)->Apply(sizes);
BENCHMARK_CAPTURE(displayCost, hotpixel, DisplayMode::HotPixel)->Apply(sizes);
BENCHMARK_CAPTURE(displayCost, histograms, DisplayMode::Histograms)->Apply(sizes);
BENCHMARK_CAPTURE(displayCost, waveform, DisplayMode::Waveform)->Apply(sizes);
BENCHMARK_CAPTURE(displayCost, vectorscope, DisplayMode::Vectorscope)->Apply(sizes);
