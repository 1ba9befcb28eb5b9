#include "measure/level_pairs.h"

#include <atomic>
#include <cstring>

namespace {

constexpr uint32_t kCellWrap = 256;  // what an 8-bit cell holds when it reads 0 again
constexpr int kRowShift = 8;         // a cell's row is its half's high byte
constexpr uint32_t kColumnMask = 0xFF;

// Each half's channels: its high byte the table's row, its low byte the column.
struct HalfChannels {
    int row;
    int column;
};
constexpr HalfChannels kHalfChannels[kLevelPairHalves] = {
    {kGreen, kBlue},  // low half
    {kLuma, kRed},    // high half
};
static_assert(kLevelWordShift[kGreen] == kRowShift && kLevelWordShift[kBlue] == 0);
static_assert(kLevelWordShift[kLuma] == kLevelPairHalfShift + kRowShift &&
              kLevelWordShift[kRed] == kLevelPairHalfShift);

// Enough sets for the command-line host's render lanes, each counting on a
// thread of its own.
constexpr int kSets = 4;

LevelPairSet gSets[kSets];
std::atomic<bool> gTaken[kSets];  // static storage: all false before any count

}  // namespace

// Rare: a cell of one level pair wraps once in 256 of its pixels.
[[gnu::noinline, gnu::cold]] void carryLevelPair(int half, uint32_t cell, LevelCounts& counts) {
    counts[kHalfChannels[half].row][cell >> kRowShift] += kCellWrap;
    counts[kHalfChannels[half].column][cell & kColumnMask] += kCellWrap;
}

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
    // A count cut short, not folded: the next claim must find the set clear.
    std::memset(set_, 0, sizeof *set_);
    release();
}

void LevelPairs::release() {
    gTaken[index_].store(false, std::memory_order_release);
    set_ = nullptr;
    index_ = -1;
}

void LevelPairs::fold(LevelCounts& counts) {
    if (set_ == nullptr) return;
    for (int half = 0; half < kLevelPairHalves; ++half) {
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
        for (int32_t column = 0; column < kLevels; ++column)
            counts[channels.column][column] += columns[column];
        std::memset(set_->cells[half], 0, sizeof set_->cells[half]);
    }
    release();
}
