// Per-display frame cost as ns per source pixel and Mpixel/s, over frame
// sizes, kinds of content and kernel levels (the scalar reference against
// the best this processor runs). Renderers are driven directly, as the
// host's runProc would.
//
//   kivrel_bench --benchmark_filter='1920x1080' --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "modes/display_table.h"
#include "modes/hotpixel.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/test_card.h"

namespace {

enum class Content { Photo, Card, Uniform, Noise };
constexpr std::pair<Content, const char*> kContents[] = {{Content::Photo, "photo"},
                                                         {Content::Card, "card"},
                                                         {Content::Uniform, "uniform"},
                                                         {Content::Noise, "noise"}};

struct Size {
    int32_t w, h;
};
constexpr Size kSizes[] = {{720, 480}, {1920, 1080}, {3840, 2160}};

struct Display {
    const char* name;
    DisplayMode mode;
    bool luma;  // the video view's grey; the channel mask without it
};
constexpr Display kDisplays[] = {
    {"video_grey", DisplayMode::Video, true},  {"video_mask", DisplayMode::Video, false},
    {"hotpixel", DisplayMode::HotPixel, true}, {"histograms", DisplayMode::Histograms, true},
    {"waveform", DisplayMode::Waveform, true}, {"vectorscope", DisplayMode::Vectorscope, true},
};

uint32_t hashOf(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352D;
    x ^= x >> 15;
    x *= 0x846CA68B;
    return x ^ (x >> 16);
}

uint32_t level(double v) { return static_cast<uint32_t>(std::fmin(255.0, std::fmax(0.0, v))); }

// A smooth picture with some detail: a brightness gradient, slowly turning
// moderate hues, soft discs, and a little grain, so that almost every
// pixel is broadcast-legal and neighbours differ as in a photograph.
uint32_t photoPixel(int32_t x, int32_t y, int32_t w, int32_t h) {
    const double u = static_cast<double>(x) / w;
    const double v = static_cast<double>(y) / h;
    const double light = 50 + 140 * (0.6 * u + 0.4 * (1 - v)) + 20 * std::sin(9 * u + 5 * v);
    const double hue = 6.0 * u + 3.0 * v + std::sin(13 * v);
    const double chroma = 30 + 25 * std::cos(7 * u * v);
    const double disc = std::hypot(u - 0.3, v - 0.6) < 0.15 ? 25 : 0;
    const int32_t grain = static_cast<int32_t>(hashOf(static_cast<uint32_t>(y * w + x)) % 9) - 4;
    const double r = light + disc + chroma * std::cos(hue) + grain;
    const double g = light + chroma * std::cos(hue - 2.094) + grain;
    const double b = light - disc + chroma * std::cos(hue + 2.094) + grain;
    return level(r) << 16 | level(g) << 8 | level(b);
}

void fill(const Frame& f, Content content) {
    if (content == Content::Card) return fillTestCard(f);
    for (int32_t y = 0; y < f.h; ++y) {
        uint32_t* row = f.canvasRow(y);
        for (int32_t x = 0; x < f.w; ++x) {
            switch (content) {
            case Content::Photo: row[x] = photoPixel(x, y, f.w, f.h); break;
            case Content::Uniform: row[x] = 0x808080; break;
            default: row[x] = hashOf(static_cast<uint32_t>(y * f.w + x)) & kPixelMask; break;
            }
        }
    }
}

void displayCost(benchmark::State& state, Display display, Size size, Content content, SimdLevel level) {
    FrameBuffer src(size.w, size.h, kBytesPerPixel * static_cast<ptrdiff_t>(size.w));
    fill(src.frame(), content);
    static ScopeInstance inst;  // large: keep it off the stack
    inst = ScopeInstance{};
    inst.settings = kDefaultSettings;
    inst.settings.mode = static_cast<int32_t>(display.mode);
    inst.settings.luma = display.luma ? 1 : 0;
    OutputGeometry g{size.w, size.h, kBytesPerPixel * static_cast<ptrdiff_t>(size.w)};
    prepareDisplay(inst, g);
    FrameBuffer out(g.w, g.h, g.pitch);
    const ConstFrame in = std::as_const(src).frame();
    for (auto _ : state) {
        renderDisplayAt(inst, in, out.frame(), level);
        benchmark::ClobberMemory();
    }
    const double pixels = static_cast<double>(size.w) * size.h;
    // An inverted rate of (pixels / 1e9) per second reads as nanoseconds per pixel.
    state.counters["ns/px"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e9,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["Mpx/s"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
    if (display.mode == DisplayMode::HotPixel) {
        int64_t hot = 0;
        for (int32_t y = 0; y < size.h; ++y) {
            for (int32_t x = 0; x < size.w; ++x) {
                const uint32_t px = in.storedRow(y)[x];
                hot += hotPixelTest(inst, px) != px ? 1 : 0;
            }
        }
        state.counters["hot%"] = 100.0 * static_cast<double>(hot) / pixels;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The scalar reference and the best level this processor runs.
    const SimdLevel best = hostSimdLevel();
    for (const Display& display : kDisplays) {
        for (const Size& size : kSizes) {
            for (const auto& [content, contentName] : kContents) {
                for (const SimdLevel level : {SimdLevel::Scalar, best}) {
                    const std::string name = std::string(display.name) + "/" + std::to_string(size.w) + "x" +
                                             std::to_string(size.h) + "/" + contentName + "/" +
                                             std::string(kSimdLevelNames[static_cast<int>(level)]);
                    benchmark::RegisterBenchmark(name.c_str(), displayCost, display, size, content, level)
                        ->Unit(benchmark::kMillisecond);
                    if (level == best) break;  // a processor without vectors has one level
                }
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
