#include "support/simd_cases.h"

#include <cstring>

namespace {

Image filled(int32_t w, int32_t h, uint32_t value) { return Image(w, h, value); }

Image randomImage(TestRng& rng, int32_t w, int32_t h) {
    Image img(w, h);
    for (uint32_t& p : img.px) p = rng.next();  // top byte included
    return img;
}

}  // namespace

std::vector<SimdLevel> vectorLevels() {
    std::vector<SimdLevel> levels;
    for (int32_t l = 1; l <= static_cast<int32_t>(machineSimdLevel()); ++l)
        levels.push_back(static_cast<SimdLevel>(l));
    return levels;
}

std::string levelName(SimdLevel level) { return std::string(kSimdLevelNames[static_cast<int>(level)]); }

Image everyColour() {
    Image img(4096, 4096);
    for (uint32_t i = 0; i < img.px.size(); ++i) img.px[i] = i | (i * 0x9E3779B9u & 0xFF000000u);
    return img;
}

std::vector<Frames> smallFrames(TestRng& rng) {
    std::vector<Frames> frames = {
        {"random 37x23", randomImage(rng, 37, 23), 3},
        {"1x1", randomImage(rng, 1, 1), 1},
        {"all 0", filled(40, 6, 0), 2},
        {"all 255", filled(40, 6, 0xFFFFFFFF), 0},
        {"tall uniform 9x1100", filled(9, 1100, 0x00C08040), 1},
    };
    for (int32_t w = 2; w <= 17; ++w)
        frames.push_back({"random width " + std::to_string(w), randomImage(rng, w, 3), w % 3});
    return frames;
}

Outcome renderAt(const ScopeInstance& prepared, const StoredFrame& src, const OutputGeometry& g, int32_t pad,
                 SimdLevel level) {
    auto inst = std::make_unique<ScopeInstance>();
    std::memcpy(inst.get(), &prepared, sizeof prepared);
    // The output starts with the same pattern for every level: accumulating
    // histograms draw over what they find.
    StoredFrame dst(g.w, g.h, pad, 0x5A5A5A5A);
    renderDisplayAt(*inst, src.constFrame(), dst.frame(), level);
    Outcome o{dst.image(), dst.paddingIntact(), std::vector<unsigned char>(sizeof(ScopeInstance))};
    std::memcpy(o.record.data(), inst.get(), sizeof(ScopeInstance));
    return o;
}

ScopeSettings randomSettings(TestRng& rng, DisplayMode mode) {
    ScopeSettings s = kDefaultSettings;
    s.mode = static_cast<int32_t>(mode);
    uint8_t* switches[] = {&s.accum, &s.ntsc, &s.gamma, &s.stdDef, &s.rng255,
                           &s.luma,  &s.red,  &s.green, &s.blue,   &s.wfmGrid};
    for (uint8_t* sw : switches) *sw = static_cast<uint8_t>(rng.bit());
    s.passthru = rng.below(6) == 0 ? 1 : 0;
    s.hotFix = rng.below(kHotFixCount);
    const int32_t ceilings[] = {100, 110, 120, 50};
    s.maxIRE = ceilings[rng.below(4)];
    return s;
}

std::unique_ptr<ScopeInstance> prepared(const ScopeSettings& s, int32_t w, int32_t h, OutputGeometry& g) {
    auto inst = std::make_unique<ScopeInstance>();
    std::memset(inst.get(), 0xA5, sizeof *inst);
    inst->settings = s;
    g = {w, h, 4 * static_cast<ptrdiff_t>(w)};
    prepareDisplay(*inst, g);
    return inst;
}
