// Per-display frame cost as ns per source pixel and Mpixel/s, over frame
// sizes and kinds of content, measured two ways:
//   exports/<display>/<size>/<content>: the built module loaded as a host
//     loads it, one runProc per frame, at the level it picks for this processor;
//   <display>/<size>/<content>/<level>: the renderers driven directly, the
//     scalar reference beside the best level this processor runs.
// The rates are per CPU second of the one benchmark thread.
//
//   kivrel_bench --benchmark_filter='1920x1080' --benchmark_repetitions=5
//   kivrel_bench --write_frame=photo:1920x1080:photo.bgr0   # the same pixels for
//       another program: top row first, bytes B, G, R, 0 (FFmpeg's bgr0)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "modes/display_table.h"
#include "modes/hotpixel.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/module_host.h"
#include "pluginhost/script_call.h"
#include "pluginhost/test_card.h"
#include "settings/script_command.h"

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

void countPixels(benchmark::State& state, Size size) {
    const double pixels = static_cast<double>(size.w) * size.h * static_cast<double>(state.iterations());
    // An inverted rate of (pixels / 1e9) per second reads as nanoseconds per pixel.
    state.counters["ns/px"] =
        benchmark::Counter(pixels / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["Mpx/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
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
    countPixels(state, size);
    const double pixels = static_cast<double>(size.w) * size.h;
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

// The "Config" arguments of the default settings with the display's mode and luma.
ConfigArgs configFor(Display display) {
    ScopeSettings settings = kDefaultSettings;
    settings.mode = static_cast<int32_t>(display.mode);
    settings.luma = display.luma ? 1 : 0;
    int raw[kConfigArgCount];
    settingsAsConfigArgs(settings, raw);
    ConfigArgs args{};
    std::copy(std::begin(raw), std::end(raw), args.begin());
    return args;
}

// Set when the module refused a benchmark's frame, so that the run fails.
bool gModuleFailed = false;

// The cost a host sees: runProc through the module's exports, as the
// command-line host and an editor call it.
void moduleCost(benchmark::State& state, const FilterModuleHost* module, Display display, Size size,
                Content content) {
    FilterInstance instance(*module);
    const ConfigArgs args = configFor(display);
    Status s = instance.init();
    if (s.ok()) s = instance.callScript(kConfigFunction, args);
    if (s.ok()) s = instance.prepare(size.w, size.h, 0);
    if (s.ok()) {
        fill(instance.source().frame(), content);
        s = instance.start();
    }
    int64_t frame = 0;
    for (auto _ : state) {
        if (s.ok()) s = instance.run(frame++);
        benchmark::ClobberMemory();
    }
    if (!s.ok()) {
        gModuleFailed = true;
        state.SkipWithError(s.message().c_str());
    }
    countPixels(state, size);
}

bool parseSize(std::string_view text, Size& size) {
    const size_t x = text.find('x');
    if (x == std::string_view::npos) return false;
    const auto w = std::from_chars(text.data(), text.data() + x, size.w);
    const auto h = std::from_chars(text.data() + x + 1, text.data() + text.size(), size.h);
    return w.ec == std::errc() && w.ptr == text.data() + x && h.ec == std::errc() &&
           h.ptr == text.data() + text.size() && size.w > 0 && size.h > 0;
}

// "--write_frame=CONTENT:WxH:PATH": the frame the benchmarks use, top row
// first as bytes B, G, R, 0, so that another program measures the same pixels.
bool writeFrame(std::string_view request) {
    const size_t first = request.find(':');
    const size_t second = first == std::string_view::npos ? first : request.find(':', first + 1);
    Size size{};
    std::optional<Content> content;
    if (second != std::string_view::npos) {
        for (const auto& [c, name] : kContents)
            if (request.substr(0, first) == name) content = c;
    }
    if (!content || !parseSize(request.substr(first + 1, second - first - 1), size)) {
        std::fprintf(stderr,
                     "--write_frame=%.*s: expected CONTENT:WxH:PATH, CONTENT one of photo, card, "
                     "uniform, noise\n",
                     static_cast<int>(request.size()), request.data());
        return false;
    }
    const std::string path(request.substr(second + 1));
    FrameBuffer frame(size.w, size.h, kBytesPerPixel * static_cast<ptrdiff_t>(size.w));
    fill(frame.frame(), *content);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out != nullptr;
    for (int32_t y = 0; ok && y < size.h; ++y) {
        const uint32_t* row = std::as_const(frame).frame().canvasRow(y);
        std::array<uint8_t, kBytesPerPixel> bytes{};
        for (int32_t x = 0; ok && x < size.w; ++x) {
            for (int i = 0; i < kBytesPerPixel; ++i)
                bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(row[x] >> (8 * i));
            ok = std::fwrite(bytes.data(), bytes.size(), 1, out) == 1;
        }
    }
    if (out != nullptr && std::fclose(out) != 0) ok = false;
    if (!ok) std::perror(path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr std::string_view kWriteFrame = "--write_frame=";
    bool wrote = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!arg.starts_with(kWriteFrame)) continue;
        if (!writeFrame(arg.substr(kWriteFrame.size()))) return 1;
        wrote = true;
    }
    if (wrote) return 0;

    Status loaded;
    const std::unique_ptr<FilterModuleHost> module = FilterModuleHost::load(KIVREL_MODULE_PATH, loaded);
    if (!module) {
        std::fprintf(stderr, "%s\n", loaded.message().c_str());
        return 1;
    }
    for (const Display& display : kDisplays) {
        for (const Size& size : kSizes) {
            for (const auto& [content, contentName] : kContents) {
                const std::string name = std::string("exports/") + display.name + "/" +
                                         std::to_string(size.w) + "x" + std::to_string(size.h) + "/" +
                                         contentName;
                benchmark::RegisterBenchmark(name.c_str(), moduleCost, module.get(), display, size, content)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    // The scalar reference and the best level this processor runs.
    const SimdLevel best = machineSimdLevel();
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
    return gModuleFailed ? 1 : 0;
}
