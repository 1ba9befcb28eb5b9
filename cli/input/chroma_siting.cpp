#include "input/chroma_siting.h"

#include <algorithm>

namespace {

enum class Site { Start, Centre, End };  // of the pixels a sample covers, along one axis

Site horizontalSite(AVChromaLocation site) {
    switch (site) {
    case AVCHROMA_LOC_CENTER:
    case AVCHROMA_LOC_TOP:
    case AVCHROMA_LOC_BOTTOM: return Site::Centre;
    default: return Site::Start;  // left, top left, bottom left; untagged: MPEG-2's left
    }
}

Site verticalSite(AVChromaLocation site) {
    switch (site) {
    case AVCHROMA_LOC_TOPLEFT:
    case AVCHROMA_LOC_TOP: return Site::Start;
    case AVCHROMA_LOC_BOTTOMLEFT:
    case AVCHROMA_LOC_BOTTOM: return Site::End;
    default: return Site::Centre;  // left, centre; untagged
    }
}

int32_t floorDiv(int32_t a, int32_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Pixel p of `count` over `samples` samples, `step` pixels apart, the first
// at `origin` eighths of a pixel: t = (p - origin) / step in samples.
ChromaTap tapAt(int32_t p, int32_t step, int32_t origin, int32_t samples) {
    const int32_t at = (kTapOne * p - origin) / step;  // eighths of a sample; exact for every siting
    const int32_t below = floorDiv(at, kTapOne);
    const int32_t first = std::clamp(below, 0, samples - 1), second = std::clamp(below + 1, 0, samples - 1);
    return {first, second, first == second ? 0 : at - below * kTapOne};
}

int32_t originOf(Site site, int32_t step) {
    switch (site) {
    case Site::Start: return 0;
    case Site::Centre: return kTapOne * (step - 1) / 2;
    case Site::End: return kTapOne * (step - 1);
    }
    return 0;
}

std::vector<ChromaTap> axisTaps(int32_t count, int log2Step, Site site) {
    const int32_t step = 1 << log2Step, samples = (count + step - 1) >> log2Step;
    std::vector<ChromaTap> taps(static_cast<size_t>(count));
    for (int32_t p = 0; p < count; ++p)
        taps[static_cast<size_t>(p)] = tapAt(p, step, originOf(site, step), samples);
    return taps;
}

}  // namespace

std::vector<ChromaTap> columnTaps(int32_t width, int log2Step, AVChromaLocation site) {
    return axisTaps(width, log2Step, horizontalSite(site));
}

std::vector<ChromaTap> rowTaps(int32_t height, int log2Step, AVChromaLocation site, bool fields) {
    if (!fields || log2Step != 1) return axisTaps(height, log2Step, verticalSite(site));
    // Each field on its own: its lines 0, 1, 2 ... over its chroma lines,
    // two field lines apart, the first a quarter (top) or three quarters
    // (bottom) of a field line down.
    constexpr int32_t kFieldStep = 2, kTopOrigin = kTapOne / 4, kBottomOrigin = 3 * kTapOne / 4;
    const int32_t chromaRows = (height + 1) / 2;
    std::vector<ChromaTap> taps(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const int32_t field = y & 1, own = (chromaRows - field + 1) / 2;
        ChromaTap& tap = taps[static_cast<size_t>(y)];
        if (own == 0) {  // a two-line picture's bottom field has no chroma line of its own
            tap = {chromaRows - 1, chromaRows - 1, 0};
            continue;
        }
        tap = tapAt(y >> 1, kFieldStep, field ? kBottomOrigin : kTopOrigin, own);
        tap.first = 2 * tap.first + field;
        tap.second = 2 * tap.second + field;
    }
    return taps;
}

TapPattern tapPattern(const std::vector<ChromaTap>& taps, int log2Step) {
    TapPattern p;
    p.log2Step = log2Step;
    const int32_t step = 1 << log2Step, n = static_cast<int32_t>(taps.size());
    // The form is read off the middle, where no edge reaches.
    const int32_t middle = (n / 2) & ~(step - 1);
    if (middle + step > n) return p;
    for (int32_t phase = 0; phase < step; ++phase) {
        const ChromaTap& t = taps[static_cast<size_t>(middle + phase)];
        p.shift[phase] = t.first - (middle >> log2Step);
        p.weight[phase] = t.weight;
    }
    const auto keeps = [&](int32_t x) {
        const ChromaTap& t = taps[static_cast<size_t>(x)];
        const int32_t phase = x & (step - 1), first = (x >> log2Step) + p.shift[phase];
        // A share of nothing reads the next sample all the same.
        return t.first == first && (t.second == first + 1 || t.weight == 0) && t.weight == p.weight[phase];
    };
    // Whole steps on either side of the middle.
    const auto stepKeeps = [&](int32_t x) {
        for (int32_t k = 0; k < step; ++k)
            if (!keeps(x + k)) return false;
        return true;
    };
    if (!stepKeeps(middle)) return p;
    p.from = middle;
    while (p.from >= step && stepKeeps(p.from - step)) p.from -= step;
    p.to = middle + step;
    while (p.to + step <= n && stepKeeps(p.to)) p.to += step;
    return p;
}
