// The command-line host's YUV 4:2:0 to RGB conversion of one 1080p frame,
// one thread, at every SIMD level this processor runs: the stage that sits
// between FFmpeg's decoder and the module on every frame.
//
//   kivrel_bench --benchmark_filter=convert
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "input/rgb_converter.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

void convertFrame(benchmark::State& state, SimdLevel simd, RgbLevels out) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = kWidth;
    f->height = kHeight;
    if (av_frame_get_buffer(f, 0) < 0) {
        state.SkipWithError("out of memory");
        return;
    }
    // Smooth gradients with a little noise, as decoded video has.
    uint32_t seed = 1;
    for (int p = 0; p < 3; ++p) {
        const int rows = p == 0 ? kHeight : kHeight / 2;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < f->linesize[p]; ++x) {
                seed = seed * 1664525u + 1013904223u;
                f->data[p][static_cast<ptrdiff_t>(y) * f->linesize[p] + x] =
                    static_cast<uint8_t>(16 + (x + y * (p + 1)) % 200 + (seed >> 29));
            }
    }
    SourceLevels levels;
    levels.yuv = true;
    levels.matrix = YuvMatrix::Bt709;
    levels.fullRange = false;
    std::vector<uint32_t> rgb(static_cast<size_t>(kWidth) * kHeight);
    RgbConverter converter(simd);
    for (auto _ : state) {
        if (!converter.convert(*f, levels, out, reinterpret_cast<uint8_t*>(rgb.data()), kWidth * 4).ok()) {
            state.SkipWithError("conversion failed");
            break;
        }
        benchmark::DoNotOptimize(rgb.data());
    }
    av_frame_free(&f);
    const double pixels = static_cast<double>(kWidth) * kHeight;
    state.counters["ns/px"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e9,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

[[maybe_unused]] const bool kRegistered = [] {
    for (int32_t k = 0; k <= static_cast<int32_t>(machineSimdLevel()); ++k)
        for (const RgbLevels out : {RgbLevels::Studio, RgbLevels::Full}) {
            const SimdLevel simd = static_cast<SimdLevel>(k);
            const std::string name = "convert/1920x1080/yuv420p_tv_to_" +
                                     std::string(out == RgbLevels::Studio ? "studio/" : "full/") +
                                     std::string(kSimdLevelNames[k]);
            benchmark::RegisterBenchmark(name.c_str(), convertFrame, simd, out)
                ->Unit(benchmark::kMillisecond);
        }
    return true;
}();

}  // namespace
