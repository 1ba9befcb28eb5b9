// What `kivrel report` adds per frame, against the waveform monitor it must
// not be slower than: the histograms' luma tally and the hot pixel count on
// records the parameter stage prepared, at the best level this processor
// runs, on a photograph-like 1080p frame and on the test card.
//
//   kivrel_bench --benchmark_filter='report|waveform/1920x1080/card'
#include <benchmark/benchmark.h>

#include <memory>
#include <utility>

#include "measure/hot_decision.h"
#include "measure/level_tally.h"
#include "modes/display_table.h"
#include "modes/histograms.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/test_card.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

std::unique_ptr<ScopeInstance> preparedFor(DisplayMode mode) {
    auto inst = std::make_unique<ScopeInstance>();
    inst->settings = kDefaultSettings;
    inst->settings.mode = static_cast<int32_t>(mode);
    OutputGeometry g{kWidth, kHeight, kBytesPerPixel * static_cast<ptrdiff_t>(kWidth)};
    prepareDisplay(*inst, g);
    return inst;
}

void reportMeasures(benchmark::State& state) {
    FrameBuffer src(kWidth, kHeight, kBytesPerPixel * static_cast<ptrdiff_t>(kWidth));
    fillTestCard(src.frame());
    const auto luma = preparedFor(DisplayMode::Histograms);
    const auto hot = preparedFor(DisplayMode::HotPixel);
    const ConstFrame in = std::as_const(src).frame();
    const SimdLevel level = machineSimdLevel();
    const HotPixelCounter counter(*hot, level);
    int64_t hotPixels = 0;
    for (auto _ : state) {
        LevelTally tally;
        tallyLevels(*luma, in, level, tally);
        benchmark::DoNotOptimize(tally);
        hotPixels = counter.count(in);
        benchmark::DoNotOptimize(hotPixels);
    }
    const double pixels = static_cast<double>(kWidth) * kHeight;
    state.counters["ns/px"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e9,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["hot%"] = 100.0 * static_cast<double>(hotPixels) / pixels;
}

BENCHMARK(reportMeasures)->Name("report_measures/1920x1080/card")->Unit(benchmark::kMillisecond);

}  // namespace
