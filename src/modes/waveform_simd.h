// The waveform monitor's kernels, written once for every vector level.
#pragma once

#include <cstring>

#include "measure/luma_simd.h"
#include "modes/waveform_kernels.h"

namespace {

// A count's cell: level * kLevelCells + channel * kWaveformBlock + column,
// its place in WaveformCounts read as one array.
constexpr int32_t kLevelCells = kChannelCount * kWaveformBlock;
constexpr uint32_t kLevelCellBits = (kLevels - 1) * kLevelCells;  // a level's part of a cell
static_assert(kLevelCells == 1 << 6, "the shifts below put a level 6 bits up");
static_assert(kWaveformCells <= 1 << 15, "cells pack to words with signed saturation");

// The cells of a batch of rows are written first and counted after, so the
// counting loop never waits for a vector store it reads back.
constexpr int32_t kBatchRows = 64;

template <typename K>
void countBlock(const AffineLuma& form, const uint32_t* first, ptrdiff_t pitch, int32_t rows,
                WaveformCounts& counts) {
    using V = typename K::V;
    constexpr int kVectors = kWaveformBlock / K::kLanes;
    static_assert(kVectors % 2 == 0, "cells pack two vectors to one");
    const LumaWeights<K> w(form);
    const V one = K::set1(1);
    const V rgb = K::set1(0x00FFFFFF);
    const V levelBits = K::set1(kLevelCellBits);
    // Each vector's channel and columns, the rest of its cells.
    V place[kChannelCount][kVectors];
    for (int ch = 0; ch < kChannelCount; ++ch) {
        for (int v = 0; v < kVectors; ++v) {
            alignas(32) uint32_t lanes[K::kLanes];
            for (int i = 0; i < K::kLanes; ++i)
                lanes[i] = static_cast<uint32_t>(ch * kWaveformBlock + v * K::kLanes + i);
            place[ch][v] = K::load(lanes);
        }
    }
    // Cells in the order the packs leave them: the counting loop adds to
    // each one alike, so it needs none other.
    alignas(32) WaveformCount cells[kBatchRows][kLevelCells];
    bool sameAsAbove[kBatchRows];
    WaveformCount* const count = &counts[0][0][0];
    const char* row = reinterpret_cast<const char*>(first);
    for (int32_t k0 = 0; k0 < rows; k0 += kBatchRows) {
        const int32_t batch = rows - k0 < kBatchRows ? rows - k0 : kBatchRows;
        V above[kVectors] = {};
        for (int32_t k = 0; k < batch; ++k, row += pitch) {
            const uint32_t* px = reinterpret_cast<const uint32_t*>(row);
            // The next block's new line of this row, a whole pass before it
            // is read: a pass alone walks down the rows too slowly for the
            // processor to fetch ahead of it.
            _mm_prefetch(reinterpret_cast<const char*>(px + 2 * kWaveformBlock - 1), _MM_HINT_T0);
            V same = K::cmpEq(one, one);
            V p[kVectors];
            for (int v = 0; v < kVectors; ++v) {
                p[v] = K::andv(K::load(px + v * K::kLanes), rgb);
                same = K::andv(same, K::cmpEq(p[v], above[v]));
                above[v] = p[v];
            }
            // A repeated row is counted with the row it repeats: its own
            // cells are never read.
            sameAsAbove[k] = k > 0 && K::signMask(same) == (1 << K::kLanes) - 1;
            if (sameAsAbove[k]) continue;
            V cell[kChannelCount][kVectors];
            for (int v = 0; v < kVectors; ++v) {
                const V sum = K::add(lumaWeightSum<K>(w, p[v]), one);
                cell[kLuma][v] = K::andv(K::template srl<24 - 6>(sum), levelBits);
                cell[kRed][v] = K::andv(K::template srl<16 - 6>(p[v]), levelBits);
                cell[kGreen][v] = K::andv(K::template srl<8 - 6>(p[v]), levelBits);
                cell[kBlue][v] = K::andv(K::template sll<6>(p[v]), levelBits);
            }
            for (int ch = 0; ch < kChannelCount; ++ch) {
                for (int v = 0; v < kVectors; v += 2) {
                    const V packed = K::packWords(K::add(cell[ch][v], place[ch][v]),
                                                  K::add(cell[ch][v + 1], place[ch][v + 1]));
                    K::store(reinterpret_cast<uint32_t*>(cells[k] + ch * kWaveformBlock + v * K::kLanes),
                             packed);
                }
            }
        }
        // A row of the block just like the one above it adds to a run,
        // counted in one go when the run ends: flat areas and vertical
        // edges cost a compare a row instead of 64 increments.
        const auto addRun = [count](const WaveformCount(&rowCells)[kLevelCells], WaveformCount run) {
#pragma GCC unroll 64
            for (int i = 0; i < kLevelCells; ++i) count[rowCells[i]] += run;
        };
        int32_t runRow = 0;
        WaveformCount run = 1;
        for (int32_t k = 1; k < batch; ++k) {
            if (sameAsAbove[k]) {
                ++run;
                continue;
            }
            addRun(cells[runRow], run);
            runRow = k;
            run = 1;
        }
        addRun(cells[runRow], run);
    }
}

// Brightness of p pixels: 0 for none, else 128 + 5 p up to 255.
template <typename K>
void drawDots(WaveformCounts& counts, int channel, int32_t level, int32_t levelStep, int32_t dots,
              uint32_t* out, ptrdiff_t outStep, uint32_t byteMask) {
    using V = typename K::V;
    const V mask = K::set1(byteMask);
    const V zero = K::zero();
    const V full = K::set1(26);  // pixels that reach 255
    const V base = K::set1(128);
    char* row = reinterpret_cast<char*>(out);
    constexpr int kCountVectors = sizeof(WaveformCount) * kWaveformBlock / (sizeof(uint32_t) * K::kLanes);
    static_assert(kCountVectors >= 1, "a level's counts fill at least one vector");
    for (int32_t i = 0; i < dots; ++i, row += outStep) {
        WaveformCount* n = counts[level + i * levelStep][channel];
        // Most levels of a block are empty on most pictures: their dots
        // would OR nothing, and their counts are already empty.
        V any = K::zero();
        for (int v = 0; v < kCountVectors; ++v)
            any = K::orv(any, K::load(reinterpret_cast<const uint32_t*>(n) + v * K::kLanes));
        if (K::signMask(K::cmpEq(any, zero)) == (1 << K::kLanes) - 1) continue;
        uint32_t* o = reinterpret_cast<uint32_t*>(row);
        for (int v = 0; v < kWaveformBlock / K::kLanes; ++v) {
            // Counts stay below 2^16, so they compare as signed.
            const V p = K::minSigned(K::wordsToLanes(n + v * K::kLanes), full);
            const V five = K::add(K::template sll<2>(p), p);
            const V bright = K::andNot(K::cmpEq(p, zero), K::minSigned(K::add(five, base), K::set1(255)));
            const V grey = K::orv(K::orv(bright, K::template sll<8>(bright)), K::template sll<16>(bright));
            K::store(o + v * K::kLanes, K::orv(K::load(o + v * K::kLanes), K::andv(grey, mask)));
        }
        std::memset(n, 0, sizeof counts[0][0]);
    }
}

}  // namespace
