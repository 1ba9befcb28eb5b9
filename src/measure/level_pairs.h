// Pair tables: the histograms' count at two increments a pixel instead of
// four, which is what bounds it. A level word's low half (green, blue) and
// high half (luma, red) each pick a cell of a 65,536-cell table of 8-bit
// counts; a channel's counts are one table's row or column sums, taken once
// a frame. A cell that wraps past 255 carries 256 to the frame's counts
// there and then, so the sums are exact for any frame.
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

class LevelPairs {
public:
    // Claims a free set when `wanted`; otherwise, or with none free, holds none.
    explicit LevelPairs(bool wanted);
    ~LevelPairs();  // clears the set if it was not folded, and frees it
    LevelPairs(const LevelPairs&) = delete;
    LevelPairs& operator=(const LevelPairs&) = delete;

    bool claimed() const { return set_ != nullptr; }
    // Counts `n` level words (a set must be claimed); carries go to `counts`.
    void count(const uint32_t* words, int32_t n, LevelCounts& counts);
    // Adds the tables' row and column sums to `counts` and clears the
    // tables; nothing without a set.
    void fold(LevelCounts& counts);

    struct Set;

private:
    Set* set_ = nullptr;
    int32_t index_ = -1;
};
