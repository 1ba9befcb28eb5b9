// The measures at every kernel level against the displays that draw them:
// the hot pixel count is what the scan changes, the luma tally is the
// histograms' count, and the luma rows of every set have the form the
// vector kernels compute.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "measure/hot_decision.h"
#include "measure/level_pairs.h"
#include "measure/level_tally.h"
#include "measure/luma_form.h"
#include "modes/histograms.h"
#include "params/luma.h"
#include "support/simd_cases.h"

TEST(Measure, LumaRowsOfEverySetHaveTheAffineForm) {
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

// What the command-line host's report counts: at every level, exactly the
// pixels the scan with its to-black action changes, and the pixels the
// single-pixel decision calls hot.
TEST(Measure, HotPixelCountIsWhatTheScanChanges) {
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
TEST(Measure, LevelTallyIsTheHistogramsCount) {
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

namespace {

// Adds every pixel's four levels to `counts`, and returns the sum of their luma.
int64_t countPixels(const ScopeInstance& inst, const Image& picture, LevelCounts& counts) {
    int64_t lumaSum = 0;
    for (uint32_t px : picture.px) {
        const int32_t luma = clampedLumaOf(inst, px);
        lumaSum += luma;
        ++counts[kLuma][luma];
        ++counts[kRed][px >> 16 & 0xFF];
        ++counts[kGreen][px >> 8 & 0xFF];
        ++counts[kBlue][px & 0xFF];
    }
    return lumaSum;
}

}  // namespace

// The histograms' count at its edges, at every level, in the pair tables and
// with every set of them taken (four increments a pixel), against a count
// of the pixels here: every pair of green and blue levels; one colour in
// more than 65,535 pixels, whose cells wrap hundreds of times; 4097 wide;
// an odd width whose half-rows end in a short run; one column; 1x1. Counts
// add to what earlier frames left, as those of switched-off channels do.
TEST(Measure, HistogramCountsEveryPixelWithAndWithoutPairTables) {
    TestRng rng{1614};
    std::vector<Frames> frames;
    Image everyPair(kLevels, kLevels);
    for (int32_t y = 0; y < kLevels; ++y) {
        for (int32_t x = 0; x < kLevels; ++x)
            everyPair.at(x, y) =
                (rng.next() & 0xFF000000) | static_cast<uint32_t>(x << 16 | y << 8 | (x ^ y));
    }
    frames.push_back({"every green and blue pair", everyPair, 0});
    frames.push_back({"one colour, 4097x17", Image(4097, 17, 0xFFA0B0C0), 3});
    Image noise(4097, 19);
    for (uint32_t& px : noise.px) px = rng.next();
    frames.push_back({"noise, 4097x19", noise, 1});
    // Rows counted from both halves at once: halves of 501, which end in a
    // short run of an odd length.
    Image shortRuns(1003, 67);
    for (uint32_t& px : shortRuns.px) px = rng.next() & 0xFF030303;
    frames.push_back({"1003x67, cells that wrap", shortRuns, 2});
    Image column(1, 70001);
    for (uint32_t& px : column.px) px = rng.next() & 0xFF0F0F0F;
    frames.push_back({"one column", column, 2});
    frames.push_back({"1x1", Image(1, 1, 0xFFFFFFFF), 0});
    std::vector<SimdLevel> levels = vectorLevels();
    levels.insert(levels.begin(), SimdLevel::Scalar);
    for (const Frames& f : frames) {
        const ScopeSettings s = randomSettings(rng, DisplayMode::Histograms);
        OutputGeometry g;
        const auto inst = prepared(s, f.picture.w, f.picture.h, g);
        const StoredFrame src(f.picture, f.pad);
        LevelCounts before, expected;
        for (int c = 0; c < kChannelCount; ++c) {
            for (int v = 0; v < kLevels; ++v) expected[c][v] = before[c][v] = rng.next();
        }
        const int64_t lumaSum = countPixels(*inst, f.picture, expected);
        for (const bool everySetTaken : {false, true}) {
            std::vector<std::unique_ptr<LevelPairs>> held;
            while (everySetTaken) {
                held.push_back(std::make_unique<LevelPairs>(true));
                if (!held.back()->claimed()) break;
            }
            for (SimdLevel level : levels) {
                SCOPED_TRACE(describe(s) + ", " + levelName(level) + ", " + f.name +
                             (everySetTaken ? ", every set taken" : ""));
                for (int c = 0; c < kChannelCount; ++c)
                    std::copy_n(before[c], kLevels, inst->histogram[c].counts);
                EXPECT_EQ(countHistogramLevels(*inst, src.constFrame(), level),
                          static_cast<int64_t>(f.picture.px.size()));
                EXPECT_EQ(inst->lumaSum, lumaSum);
                for (int c = 0; c < kChannelCount; ++c)
                    EXPECT_TRUE(std::equal(expected[c], expected[c] + kLevels, inst->histogram[c].counts))
                        << "channel " << c;
            }
        }
    }
}

// More threads counting at once than there are sets of pair tables: each
// count claims a set of its own or counts without one, and every count is whole.
TEST(Measure, HistogramCountsOnManyThreadsAtOnce) {
    TestRng rng{1615};
    Image picture(512, 256);
    for (uint32_t& px : picture.px) px = rng.next() & 0xFF3F3F3F;  // cells that wrap
    OutputGeometry g;
    const auto inst = prepared(kDefaultSettings, picture.w, picture.h, g);
    const StoredFrame src(picture);
    LevelCounts expected = {};
    const int64_t lumaSum = countPixels(*inst, picture, expected);
    constexpr int kThreads = 8;
    constexpr int kRounds = 16;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            const auto own = std::make_unique<ScopeInstance>(*inst);
            for (int round = 0; round < kRounds; ++round) {
                for (HistogramChannel& channel : own->histogram) std::fill_n(channel.counts, kLevels, 0u);
                countHistogramLevels(*own, src.constFrame(), machineSimdLevel());
                bool same = own->lumaSum == lumaSum;
                for (int c = 0; c < kChannelCount; ++c)
                    same = same && std::equal(expected[c], expected[c] + kLevels, own->histogram[c].counts);
                if (!same) ++wrong;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Runs of pixels that all fall in one cell of the colour cube, which the
// vector kernels may decide a run at a time: every cell, on records whose
// ceilings put the legal range's edge through many cells, each pixel as the
// single-pixel decision has it. A run of two whole chunks and a partial one.
TEST(Measure, HotPixelRunsWithinOneCellDecideAsEachPixel) {
    TestRng rng{4096};
    constexpr int32_t kRun = 2 * 64 + 7;
    std::vector<uint32_t> row(kRun), out(kRun), expected(kRun);
    std::vector<int32_t> positions(kRun);
    for (const int32_t ceiling : {kMaxIreLowest, 50, 100, 110, kMaxIreHighest}) {
        for (int set = 0; set < 4; ++set) {
            ScopeSettings s = kDefaultSettings;
            s.mode = static_cast<int32_t>(DisplayMode::HotPixel);
            s.maxIRE = ceiling;
            s.ntsc = static_cast<uint8_t>(set & 1);
            s.gamma = static_cast<uint8_t>(set >> 1);
            OutputGeometry g;
            const auto inst = prepared(s, 8, 8, g);
            for (SimdLevel level : vectorLevels()) {
                SCOPED_TRACE(describe(s) + ", " + levelName(level));
                HotRowSource src;
                const HotPixelKernels& k = hotPixelKernels(*inst, level, src);
                int64_t mismatches = 0;
                for (uint32_t cell = 0; cell < kHotCells; ++cell) {
                    const uint32_t corner = (cell & 0xF00) << 12 | (cell & 0x0F0) << 8 | (cell & 0x00F) << 4;
                    std::vector<int32_t> hotAt;
                    for (int32_t x = 0; x < kRun; ++x) {
                        // The cell's own corners first and last, random colours of it between.
                        const uint32_t within = x == 0 ? 0 : x == kRun - 1 ? 0x0F0F0F : rng.next() & 0x0F0F0F;
                        row[static_cast<size_t>(x)] = (rng.next() & 0xFF000000) | corner | within;
                        const bool hot = isHotPixel(*inst, row[static_cast<size_t>(x)]);
                        expected[static_cast<size_t>(x)] = hot ? 0 : row[static_cast<size_t>(x)];
                        if (hot) hotAt.push_back(x);
                    }
                    const int32_t found = k.decide(src, row.data(), out.data(), kRun, positions.data());
                    const bool same = out == expected && found == static_cast<int32_t>(hotAt.size()) &&
                                      std::equal(hotAt.begin(), hotAt.end(), positions.begin()) &&
                                      k.count(src, row.data(), kRun) == found;
                    mismatches += same ? 0 : 1;
                    EXPECT_TRUE(same) << "cell " << std::hex << cell;
                    if (mismatches > 4) return;
                }
            }
        }
    }
}
