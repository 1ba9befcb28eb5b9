// Every kernel level this processor runs against the scalar reference, as
// a checkasm does: the same prepared record and the same frames (random,
// extreme fills, every colour, odd widths, 1x1, padded pitch with a
// sentinel), and records whose settings changed after the parameter stage
// (stale tables of another display). Outputs and records must agree bit for
// bit; a mismatch names the display, the level, the frame and the first
// differing pixel or byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "modes/display_table.h"
#include "modes/histograms.h"
#include "modes/hotpixel.h"
#include "modes/luma_form.h"
#include "support/image.h"
#include "support/rng.h"

namespace {

std::vector<SimdLevel> vectorLevels() {
    std::vector<SimdLevel> levels;
    for (int32_t l = 1; l <= static_cast<int32_t>(hostSimdLevel()); ++l)
        levels.push_back(static_cast<SimdLevel>(l));
    return levels;
}

std::string levelName(SimdLevel level) { return std::string(kSimdLevelNames[static_cast<int>(level)]); }

struct Frames {
    std::string name;
    Image picture;
    int32_t pad;
};

Image filled(int32_t w, int32_t h, uint32_t value) { return Image(w, h, value); }

Image randomImage(TestRng& rng, int32_t w, int32_t h) {
    Image img(w, h);
    for (uint32_t& p : img.px) p = rng.next();  // top byte included
    return img;
}

// All 2^24 colours once each, with a varying top byte.
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

struct Outcome {
    Image out;
    bool paddingIntact;
    std::vector<unsigned char> record;
};

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

std::string describe(const ScopeSettings& s) {
    return "mode " + std::to_string(s.mode) + " passthru " + std::to_string(s.passthru) + " accum " +
           std::to_string(s.accum) + " ntsc " + std::to_string(s.ntsc) + " gamma " + std::to_string(s.gamma) +
           " stdDef " + std::to_string(s.stdDef) + " rng255 " + std::to_string(s.rng255) + " channels " +
           std::to_string(s.luma) + std::to_string(s.red) + std::to_string(s.green) + std::to_string(s.blue) +
           " grid " + std::to_string(s.wfmGrid) + " hotFix " + std::to_string(s.hotFix) + " maxIRE " +
           std::to_string(s.maxIRE);
}

// Renders `src` at every level from the same record and compares with the scalar code.
void expectLevelsAgree(const ScopeInstance& prepared, const OutputGeometry& g, const Frames& f,
                       const std::string& what) {
    const StoredFrame src(f.picture, f.pad);
    const Outcome ref = renderAt(prepared, src, g, f.pad, SimdLevel::Scalar);
    for (SimdLevel level : vectorLevels()) {
        const Outcome o = renderAt(prepared, src, g, f.pad, level);
        const std::string where = what + ", " + levelName(level) + ", " + f.name;
        EXPECT_TRUE(o.paddingIntact) << where;
        ASSERT_EQ(o.out.px.size(), ref.out.px.size()) << where;
        for (size_t i = 0; i < o.out.px.size(); ++i) {
            if (o.out.px[i] != ref.out.px[i]) {
                ADD_FAILURE() << where << ": output " << g.w << "x" << g.h << " differs first at (" << i % g.w
                              << ", " << i / g.w << "): " << std::hex << o.out.px[i] << " against scalar "
                              << ref.out.px[i];
                break;
            }
        }
        for (size_t i = 0; i < o.record.size(); ++i) {
            if (o.record[i] != ref.record[i]) {
                ADD_FAILURE() << where << ": record differs first at byte " << i;
                break;
            }
        }
    }
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

// A record prepared for `s` with a source of the given size, as paramProc leaves it.
std::unique_ptr<ScopeInstance> prepared(const ScopeSettings& s, int32_t w, int32_t h, OutputGeometry& g) {
    auto inst = std::make_unique<ScopeInstance>();
    std::memset(inst.get(), 0xA5, sizeof *inst);
    inst->settings = s;
    g = {w, h, 4 * static_cast<ptrdiff_t>(w)};
    prepareDisplay(*inst, g);
    return inst;
}

constexpr DisplayMode kModes[] = {DisplayMode::Histograms, DisplayMode::HotPixel, DisplayMode::Video,
                                  DisplayMode::Waveform, DisplayMode::Vectorscope};

}  // namespace

TEST(SimdPaths, EveryLevelMatchesTheScalarCodeOnEveryDisplay) {
    if (vectorLevels().empty()) GTEST_SKIP() << "this build or processor has only the scalar code";
    TestRng rng{20261208};
    const std::vector<Frames> frames = smallFrames(rng);
    for (DisplayMode mode : kModes) {
        for (int trial = 0; trial < 12; ++trial) {
            const ScopeSettings s = randomSettings(rng, mode);
            for (const Frames& f : frames) {
                OutputGeometry g;
                const auto inst = prepared(s, f.picture.w, f.picture.h, g);
                expectLevelsAgree(*inst, g, f, describe(s));
            }
        }
    }
}

TEST(SimdPaths, EveryColourThroughEveryDisplay) {
    if (vectorLevels().empty()) GTEST_SKIP() << "this build or processor has only the scalar code";
    const Frames all{"every colour 4096x4096", everyColour(), 1};
    TestRng rng{77};
    for (DisplayMode mode : kModes) {
        ScopeSettings s = randomSettings(rng, mode);
        s.passthru = 0;
        s.luma = 1;
        OutputGeometry g;
        const auto inst = prepared(s, all.picture.w, all.picture.h, g);
        expectLevelsAgree(*inst, g, all, describe(s));
    }
}

// A script may switch the display (and any switch) after the parameter
// stage: every level must then read the other display's tables alike.
TEST(SimdPaths, LumaRowsOfEverySetHaveTheAffineForm) {
    // Otherwise the luma displays would quietly run their scalar code.
    for (DisplayMode mode : {DisplayMode::Video, DisplayMode::Vectorscope}) {
        for (int set = 0; set < 4; ++set) {
            ScopeSettings s = kDefaultSettings;
            s.mode = static_cast<int32_t>(mode);
            s.rng255 = static_cast<uint8_t>(set & 1);
            s.stdDef = static_cast<uint8_t>(set >> 1);
            OutputGeometry g;
            const auto inst = prepared(s, 8, 8, g);
            AffineLuma form;
            EXPECT_TRUE(findAffineLuma(*inst, form)) << describe(s);
        }
    }
}

TEST(SimdPaths, StaleTablesOfAnotherDisplay) {
    if (vectorLevels().empty()) GTEST_SKIP() << "this build or processor has only the scalar code";
    TestRng rng{4242};
    const std::vector<Frames> frames = smallFrames(rng);
    for (DisplayMode from : kModes) {
        for (DisplayMode to : kModes) {
            for (int trial = 0; trial < 3; ++trial) {
                const ScopeSettings before = randomSettings(rng, from);
                const ScopeSettings after = randomSettings(rng, to);
                for (const Frames& f : frames) {
                    OutputGeometry g;
                    const auto inst = prepared(before, f.picture.w, f.picture.h, g);
                    inst->settings = after;
                    expectLevelsAgree(*inst, g, f,
                                      "prepared for " + describe(before) + ", drawn for " + describe(after));
                }
            }
        }
    }
}

// What the command-line host's report counts: at every level, exactly the
// pixels the scan with its to-black action changes, and the pixels the
// single-pixel decision calls hot.
TEST(SimdPaths, HotPixelCountIsWhatTheScanChanges) {
    TestRng rng{1612};
    std::vector<SimdLevel> levels = vectorLevels();
    levels.insert(levels.begin(), SimdLevel::Scalar);
    for (const Frames& f : smallFrames(rng)) {
        for (int trial = 0; trial < 6; ++trial) {
            ScopeSettings s = randomSettings(rng, DisplayMode::HotPixel);
            s.passthru = 0;
            s.hotFix = kHotFixToBlack;
            OutputGeometry g;
            const auto inst = prepared(s, f.picture.w, f.picture.h, g);
            const StoredFrame src(f.picture, f.pad);
            const Outcome scanned = renderAt(*inst, src, g, f.pad, SimdLevel::Scalar);
            int64_t changed = 0, decided = 0;
            for (size_t i = 0; i < f.picture.px.size(); ++i) {
                changed += scanned.out.px[i] != f.picture.px[i] ? 1 : 0;
                decided += isHotPixel(*inst, f.picture.px[i]) ? 1 : 0;
            }
            EXPECT_EQ(decided, changed) << describe(s) << ", " << f.name;
            for (SimdLevel level : levels)
                EXPECT_EQ(countHotPixels(*inst, src.constFrame(), level), changed)
                    << describe(s) << ", " << levelName(level) << ", " << f.name;
        }
    }
}

// The report's luma tally against the display's full count, at every level,
// for records of every display (stale tables included): the same luma
// counts and sum, each channel's extremes where its counts start and end,
// and tallies of a frame's parts adding up to the whole.
TEST(SimdPaths, LevelTallyIsTheHistogramsCount) {
    TestRng rng{1613};
    std::vector<SimdLevel> levels = vectorLevels();
    levels.insert(levels.begin(), SimdLevel::Scalar);
    for (const Frames& f : smallFrames(rng)) {
        for (DisplayMode mode : kModes) {
            const ScopeSettings s = randomSettings(rng, mode);
            OutputGeometry g;
            const auto inst = prepared(s, f.picture.w, f.picture.h, g);
            const StoredFrame src(f.picture, f.pad);
            for (HistogramChannel& channel : inst->histogram) std::fill_n(channel.counts, kLevels, 0u);
            const int64_t pixels = countHistogramLevels(*inst, src.constFrame(), SimdLevel::Scalar);
            for (SimdLevel level : levels) {
                SCOPED_TRACE(describe(s) + ", " + levelName(level) + ", " + f.name);
                LevelTally whole, parts;
                tallyLevels(*inst, src.constFrame(), level, whole);
                const int32_t split = f.picture.h / 3;
                tallyLevels(*inst, src.constFrame().storedRows(0, split), level, parts);
                LevelTally rest;
                tallyLevels(*inst, src.constFrame().storedRows(split, f.picture.h - split), level, rest);
                parts.add(rest);
                for (const LevelTally* t : {&whole, &parts}) {
                    EXPECT_EQ(t->pixels, pixels);
                    EXPECT_EQ(t->lumaSum, inst->lumaSum);
                    EXPECT_TRUE(std::equal(t->luma, t->luma + kLevels, inst->histogram[kLuma].counts));
                    for (int c = 0; c < kChannelCount; ++c) {
                        const uint32_t* counts = inst->histogram[c].counts;
                        const auto present = [](uint32_t n) { return n != 0; };
                        EXPECT_EQ(t->lowest[c], std::find_if(counts, counts + kLevels, present) - counts)
                            << "channel " << c;
                        EXPECT_EQ(t->highest[c],
                                  kLevels - 1 -
                                      (std::find_if(std::make_reverse_iterator(counts + kLevels),
                                                    std::make_reverse_iterator(counts), present) -
                                       std::make_reverse_iterator(counts + kLevels)))
                            << "channel " << c;
                    }
                }
            }
        }
    }
}
