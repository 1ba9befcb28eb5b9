#include "frei0r/filter_instance.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "modes/display_table.h"
#include "modes/waveform.h"

namespace {

// Rows per band of a pixelwise display: two bands of a 4K frame (source and
// output) stay well inside a core's L2 cache.
constexpr int32_t kBandRows = 16;

// frei0r's frames are top-down and packed; the filter's frame views count
// stored rows from the bottom, so the view starts at the last row and steps
// back.
template <typename Pixel>
BasicFrame<Pixel> hostFrame(Pixel* data, int32_t w, int32_t h) {
    const ptrdiff_t rowBytes = 4 * static_cast<ptrdiff_t>(w);
    return {data + static_cast<ptrdiff_t>(h - 1) * w, w, h, -rowBytes, -2 * rowBytes};
}

Frame ownFrame(uint32_t* data, int32_t w, int32_t h, ptrdiff_t pitch) {
    return {data, w, h, pitch, pitch - 4 * static_cast<ptrdiff_t>(w)};
}

// The waveform is its source's width plus the scale margin: drawn from the
// picture narrowed by the margin, it is exactly the frame's width.
bool drawsNarrowed(const ScopeSettings& s, int32_t frameW) {
    return effectiveMode(s) == static_cast<int32_t>(DisplayMode::Waveform) && frameW > kWaveformScaleMargin;
}

OutputGeometry sourceGeometry(const ScopeSettings& s, int32_t w, int32_t h) {
    const int32_t sourceW = drawsNarrowed(s, w) ? w - kWaveformScaleMargin : w;
    return {sourceW, h, 4 * static_cast<ptrdiff_t>(sourceW)};
}

// The largest display any settings draw from a frame of this size, found by
// running the parameter stage for each display and channel set.
struct DisplayExtent {
    size_t bytes;
    int32_t w, h;
};
DisplayExtent largestDisplay(ScopeInstance& scope, int32_t w, int32_t h) {
    DisplayExtent most{0, 0, 0};
    constexpr int kChannelSets = 1 << kChannelCount;
    for (int32_t mode = 0; mode < kDisplayModeCount; ++mode)
        for (int set = 0; set < kChannelSets; ++set) {
            scope.settings = kDefaultSettings;
            scope.settings.mode = mode;
            uint8_t* switches[kChannelCount] = {&scope.settings.luma, &scope.settings.red,
                                                &scope.settings.green, &scope.settings.blue};
            for (int c = 0; c < kChannelCount; ++c) *switches[c] = (set >> c) & 1;
            OutputGeometry g = sourceGeometry(scope.settings, w, h);
            prepareDisplay(scope, g);
            if (g.w == w && g.h == h) continue;  // drawn straight into the host's frame
            most.bytes = std::max(most.bytes, static_cast<size_t>(g.pitch) * static_cast<size_t>(g.h));
            most.w = std::max(most.w, g.w);
            most.h = std::max(most.h, g.h);
        }
    return most;
}

template <typename T>
bool allocate(T*& p, size_t count) {
    p = static_cast<T*>(std::calloc(count, sizeof(T)));
    return p != nullptr;
}

bool allocateTaps(AxisTaps& taps, int32_t from, int32_t to) {
    const size_t capacity = axisTapCapacity(from, to);
    return allocate(taps.start, static_cast<size_t>(to) + 1) && allocate(taps.source, capacity) &&
           allocate(taps.weight, capacity);
}

void freeTaps(AxisTaps& taps) {
    std::free(taps.start);
    std::free(taps.source);
    std::free(taps.weight);
}

bool sameSettings(const ScopeSettings& a, const ScopeSettings& b) {
    return a.accum == b.accum && a.passthru == b.passthru && a.ntsc == b.ntsc && a.gamma == b.gamma &&
           a.stdDef == b.stdDef && a.rng255 == b.rng255 && a.luma == b.luma && a.red == b.red &&
           a.green == b.green && a.blue == b.blue && a.wfmGrid == b.wfmGrid && a.mode == b.mode &&
           a.hotFix == b.hotFix && a.maxIRE == b.maxIRE;
}

// The parameter stage, run again only when the settings change (a host
// such as MLT sets every parameter before every frame; accumulation must
// survive that).
void prepare(FilterInstance& inst, const ScopeSettings& s) {
    inst.scope.settings = s;
    inst.prepared = s;
    inst.hasPrepared = true;
    inst.narrowed = drawsNarrowed(s, inst.width);
    const int32_t mode = effectiveMode(s);
    inst.pixelwise = mode == static_cast<int32_t>(DisplayMode::Video) ||
                     mode == static_cast<int32_t>(DisplayMode::HotPixel);
    OutputGeometry g = sourceGeometry(s, inst.width, inst.height);
    prepareDisplay(inst.scope, g);
    inst.displayPitch = g.pitch;
    inst.plan = displayUnitFor(s) != nullptr ? planFit(inst.width, inst.height, g.w, g.h)
                                             : planFit(inst.width, inst.height, 0, 0);
    if (inst.plan.kind == FitKind::Reduce) {
        buildAxisTaps(g.w, inst.plan.w, inst.tapsX);
        buildAxisTaps(g.h, inst.plan.h, inst.tapsY);
    }
    // A display that accumulates starts from black, as the host's own first output frame does.
    std::memset(inst.display, 0, inst.displayBytes);
}

}  // namespace

FilterInstance* createInstance(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide ||
        uint64_t{width} * height > kLargestArea)
        return nullptr;
    auto* inst = new (std::nothrow) FilterInstance{};
    if (inst == nullptr) return nullptr;
    inst->width = static_cast<int32_t>(width);
    inst->height = static_cast<int32_t>(height);
    resetParams(inst->params);
    const DisplayExtent most = largestDisplay(inst->scope, inst->width, inst->height);
    inst->displayBytes = most.bytes;
    const int32_t narrowW = std::max(inst->width - kWaveformScaleMargin, 0);
    const bool ok = allocate(inst->display, most.bytes / sizeof(uint32_t) + 1) &&
                    allocate(inst->narrow, static_cast<size_t>(narrowW) * height + 1) &&
                    allocate(inst->narrowColumns, static_cast<size_t>(narrowW) + 1) &&
                    allocateTaps(inst->tapsX, most.w, inst->width) &&
                    allocateTaps(inst->tapsY, most.h, inst->height);
    if (!ok) {
        destroyInstance(inst);
        return nullptr;
    }
    if (narrowW > 0) buildNarrowing(inst->width, narrowW, inst->narrowColumns);
    return inst;
}

void destroyInstance(FilterInstance* inst) {
    if (inst == nullptr) return;
    std::free(inst->display);
    std::free(inst->narrow);
    std::free(inst->narrowColumns);
    freeTaps(inst->tapsX);
    freeTaps(inst->tapsY);
    delete inst;
}

void updateInstance(FilterInstance& inst, const uint32_t* in, uint32_t* out) {
    const ScopeSettings s = settingsOf(inst.params);
    if (!inst.hasPrepared || !sameSettings(s, inst.prepared)) prepare(inst, s);

    const Frame frame = hostFrame(out, inst.width, inst.height);
    ConstFrame source = hostFrame(in, inst.width, inst.height);
    const FitPlan& plan = inst.plan;
    if (plan.kind == FitKind::TooSmall || plan.kind == FitKind::Nothing) {
        blankFrame(plan, frame);
        return;
    }
    if (inst.narrowed) {
        const int32_t narrowW = inst.width - kWaveformScaleMargin;
        const Frame narrow = ownFrame(inst.narrow, narrowW, inst.height, 4 * static_cast<ptrdiff_t>(narrowW));
        narrowPicture(source, inst.narrowColumns, narrow);
        source = narrow;
    }
    if (plan.kind == FitKind::Direct) {
        if (!inst.pixelwise) {
            renderDisplay(inst.scope, source, frame);
            makeOpaque(frame);
            return;
        }
        // A display whose every pixel is its source pixel's own, in bands of
        // rows, each made opaque while it is still in the cache.
        for (int32_t first = 0; first < frame.h; first += kBandRows) {
            const int32_t rows = std::min(kBandRows, frame.h - first);
            const Frame band = frame.storedRows(first, rows);
            renderDisplay(inst.scope, source.storedRows(first, rows), band);
            makeOpaque(band);
        }
        return;
    }
    const Frame display = ownFrame(inst.display, plan.displayW, plan.displayH, inst.displayPitch);
    renderDisplay(inst.scope, source, display);
    placeDisplay(plan, display, inst.tapsX, inst.tapsY, frame);
}
