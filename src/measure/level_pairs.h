// Pair tables: the histograms' count at two increments a pixel instead of
// four, which is what bounds it. A level word's low half (green, blue) and
// high half (luma, red) each pick a cell of a 65,536-cell table of 8-bit
// counts; a channel's counts are one table's row or column sums, taken once
// a frame. A cell that wraps past 255 carries 256 to the frame's counts
// there and then, so the sums are exact for any frame.
//
// A row's words are counted from its two halves at once, two words of each
// in turn. Where neighbours are alike but not equal (a photograph's grain),
// an increment would otherwise often wait on one a few pixels before it to
// the same cell; from two far apart places of the picture, the words that
// meet in a cell come about half as often, and a flat stretch still meets
// its own cell at the same distance, which the processor foresees. Measured
// through the exports at 1080p (noisy machine): 5-8% less time on a
// photograph, the test card and noise within a few per cent either way.
// Copies of the tables, which break those waits too, cost the card and
// noise 5-15%: twice the tables' reach into the cache.
//
// A set of tables (128 KiB) fits neither the frame path's stack (a host
// thread's may be small) nor the instance record, and the frame path may not
// allocate: the module keeps a few sets in its own static storage. A count
// claims a free set for one frame and hands it back cleared; when every set
// is in use, on more threads at once than there are sets, `claimed()` says
// so and the caller counts with countLevelWords. The sets cost a 32-bit
// host address space only (zero pages until a count touches them).
#pragma once

#include <cstdint>

#include "measure/level_words.h"

inline constexpr int32_t kLevelPairCells = kLevels * kLevels;
inline constexpr int kLevelPairHalves = 2;  // low half (green, blue), high half (luma, red)
inline constexpr int kLevelPairHalfShift = 16;
inline constexpr uint32_t kLevelPairHalfMask = 0xFFFF;
inline constexpr int32_t kLevelPairRun = 128;  // words made, then counted
inline constexpr int32_t kLevelPairGroup = 2;  // words of one half counted together

struct LevelPairSet {
    alignas(64) uint8_t cells[kLevelPairHalves][kLevelPairCells];
};

// Adds 256 to the counts of both levels of `half`'s `cell`, which has just wrapped.
void carryLevelPair(int half, uint32_t cell, LevelCounts& counts);

namespace {

// One level word counted.
inline __attribute__((always_inline)) void countLevelPair(LevelPairSet& set, uint32_t w,
                                                          LevelCounts& counts) {
    const uint32_t low = w & kLevelPairHalfMask;
    const uint32_t high = w >> kLevelPairHalfShift;
    if (++set.cells[0][low] == 0) [[unlikely]]
        carryLevelPair(0, low, counts);
    if (++set.cells[1][high] == 0) [[unlikely]]
        carryLevelPair(1, high, counts);
}

// The one count loop of the pair tables, which the row kernels of every
// level call: counts a row of n pixels whose level words
// `make(x, words, m)` writes for pixels x .. x + m - 1. A short run at a
// time, so that the vector work of one run overlaps the increments of the
// run before, which find their words stored; each run from both halves of
// the row, kLevelPairGroup words of each in turn, then an odd last pixel.
// Internal linkage, as the vector helpers.
template <typename MakeWords>
inline __attribute__((always_inline)) void countLevelPairRow(int32_t n, MakeWords make, LevelPairSet& set,
                                                             LevelCounts& counts) {
    constexpr int32_t kPart = kLevelPairRun / 2;
    alignas(32) uint32_t words[kLevelPairRun];
    const int32_t half = n / 2;
    for (int32_t x0 = 0; x0 < half; x0 += kPart) {
        const int32_t m = half - x0 < kPart ? half - x0 : kPart;
        make(x0, words, m);
        make(half + x0, words + m, m);
        int32_t x = 0;
        for (; x + kLevelPairGroup <= m; x += kLevelPairGroup) {
#pragma GCC unroll kLevelPairGroup
            for (int32_t k = 0; k < kLevelPairGroup; ++k) countLevelPair(set, words[x + k], counts);
#pragma GCC unroll kLevelPairGroup
            for (int32_t k = 0; k < kLevelPairGroup; ++k) countLevelPair(set, words[m + x + k], counts);
        }
        for (; x < m; ++x) {
            countLevelPair(set, words[x], counts);
            countLevelPair(set, words[m + x], counts);
        }
    }
    if (2 * half < n) {
        make(n - 1, words, 1);
        countLevelPair(set, words[0], counts);
    }
}

}  // namespace

class LevelPairs {
public:
    // Claims a free set when `wanted`; otherwise, or with none free, holds none.
    explicit LevelPairs(bool wanted);
    ~LevelPairs();  // hands back a set not folded, cleared
    LevelPairs(const LevelPairs&) = delete;
    LevelPairs& operator=(const LevelPairs&) = delete;

    bool claimed() const { return set_ != nullptr; }
    // The claimed set, which the level word kernels count into (carries go
    // to the frame's counts).
    LevelPairSet& set() const { return *set_; }
    // Adds the tables' row and column sums to `counts`, clears the tables
    // and hands the set back; nothing without a set.
    void fold(LevelCounts& counts);

private:
    void release();

    LevelPairSet* set_ = nullptr;
    int32_t index_ = -1;
};
