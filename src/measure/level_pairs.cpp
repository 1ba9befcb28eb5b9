#include "measure/level_pairs.h"

#include <atomic>
#include <cstring>

namespace {

constexpr int32_t kCells = kLevels * kLevels;
constexpr uint32_t kCellWrap = 256;  // what an 8-bit cell holds when it reads 0 again
constexpr int kHalfShift = 16;
constexpr uint32_t kHalfMask = 0xFFFF;
constexpr int kRowShift = 8;  // a cell's row is its half's high byte
constexpr uint32_t kColumnMask = 0xFF;

// Each half's channels: its high byte the table's row, its low byte the column.
struct HalfChannels {
    int row;
    int column;
};
constexpr int kHalves = 2;
constexpr HalfChannels kHalfChannels[kHalves] = {
    {kGreen, kBlue},  // low half
    {kLuma, kRed},    // high half
};
static_assert(kLevelWordShift[kGreen] == kRowShift && kLevelWordShift[kBlue] == 0);
static_assert(kLevelWordShift[kLuma] == kHalfShift + kRowShift && kLevelWordShift[kRed] == kHalfShift);

// Enough sets for the command-line host's render lanes, each counting on a
// thread of its own.
constexpr int kSets = 4;

}  // namespace

struct LevelPairs::Set {
    alignas(64) uint8_t cells[kHalves][kCells];
};

namespace {

LevelPairs::Set gSets[kSets];
std::atomic<bool> gTaken[kSets];  // static storage: all false before any count

// Rare: a cell of one level pair wraps once in 256 of its pixels.
[[gnu::noinline, gnu::cold]] void carry(int half, uint32_t cell, LevelCounts& counts) {
    counts[kHalfChannels[half].row][cell >> kRowShift] += kCellWrap;
    counts[kHalfChannels[half].column][cell & kColumnMask] += kCellWrap;
}

inline void countWord(LevelPairs::Set& set, uint32_t w, LevelCounts& counts) {
    const uint32_t low = w & kHalfMask;
    const uint32_t high = w >> kHalfShift;
    if (++set.cells[0][low] == 0) [[unlikely]]
        carry(0, low, counts);
    if (++set.cells[1][high] == 0) [[unlikely]]
        carry(1, high, counts);
}

}  // namespace

LevelPairs::LevelPairs(bool wanted) {
    if (!wanted) return;
    for (int32_t i = 0; i < kSets; ++i) {
        if (!gTaken[i].exchange(true, std::memory_order_acquire)) {
            set_ = &gSets[i];
            index_ = i;
            return;
        }
    }
}

LevelPairs::~LevelPairs() {
    if (set_ == nullptr) return;
    // Folded tables are clear already; this is for a count cut short.
    LevelCounts unused = {};
    fold(unused);
    gTaken[index_].store(false, std::memory_order_release);
}

void LevelPairs::count(const uint32_t* words, int32_t n, LevelCounts& counts) {
    // Unrolled, so that the loads and increments of neighbouring words overlap.
    constexpr int32_t kUnroll = 4;
    int32_t x = 0;
    for (; x + kUnroll <= n; x += kUnroll) {
#pragma GCC unroll 4
        for (int32_t k = 0; k < kUnroll; ++k) countWord(*set_, words[x + k], counts);
    }
    for (; x < n; ++x) countWord(*set_, words[x], counts);
}

void LevelPairs::fold(LevelCounts& counts) {
    if (set_ == nullptr) return;
    for (int half = 0; half < kHalves; ++half) {
        const HalfChannels channels = kHalfChannels[half];
        // A column's sum is at most 255 * 256: 16 bits, which lets the
        // compiler add a row's bytes to it a vector at a time.
        uint16_t columns[kLevels] = {};
        const uint8_t* cells = set_->cells[half];
        for (int32_t row = 0; row < kLevels; ++row, cells += kLevels) {
            uint32_t sum = 0;
            for (int32_t column = 0; column < kLevels; ++column) {
                sum += cells[column];
                columns[column] = static_cast<uint16_t>(columns[column] + cells[column]);
            }
            counts[channels.row][row] += sum;
        }
        for (int32_t column = 0; column < kLevels; ++column) counts[channels.column][column] += columns[column];
        std::memset(set_->cells[half], 0, sizeof set_->cells[half]);
    }
}
