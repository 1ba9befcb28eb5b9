// The waveform monitor's kernels, written once for every vector level.
#pragma once

#include "measure/luma_simd.h"
#include "modes/waveform_kernels.h"

namespace {

constexpr int32_t kBlockVectors(int lanes) { return kWaveformBlock / lanes; }

// The level words of a batch of rows are written first and counted after,
// so the counting loop never waits for a vector store it reads back.
constexpr int32_t kBatchRows = 64;

// One branch for the whole row: a compare per word would mispredict
// wherever part of a row repeats.
template <typename K>
KV_VECTOR_INLINE bool sameWords(const uint32_t (&a)[kWaveformBlock], const uint32_t (&b)[kWaveformBlock]) {
    typename K::V equal = K::cmpEq(K::load(a), K::load(b));
    for (int v = 1; v < kBlockVectors(K::kLanes); ++v)
        equal = K::andv(equal, K::cmpEq(K::load(a + v * K::kLanes), K::load(b + v * K::kLanes)));
    return K::signMask(equal) == (1 << K::kLanes) - 1;
}

template <typename K>
void countBlock(const AffineLuma& form, const uint32_t* first, ptrdiff_t pitch, int32_t rows,
                WaveformCounts& counts) {
    using V = typename K::V;
    static_assert(kWaveformBlock % K::kLanes == 0);
    const LumaWeights<K> w(form);
    const V one = K::set1(1);
    const V rgb = K::set1(0x00FFFFFF);
    alignas(32) uint32_t words[kBatchRows][kWaveformBlock];
    const char* row = reinterpret_cast<const char*>(first);
    for (int32_t k0 = 0; k0 < rows; k0 += kBatchRows) {
        const int32_t batch = rows - k0 < kBatchRows ? rows - k0 : kBatchRows;
        for (int32_t k = 0; k < batch; ++k, row += pitch) {
            const uint32_t* px = reinterpret_cast<const uint32_t*>(row);
            for (int v = 0; v < kBlockVectors(K::kLanes); ++v) {
                const V p = K::load(px + v * K::kLanes);
                const V luma = K::template srl<24>(K::add(lumaWeightSum<K>(w, p), one));
                K::store(words[k] + v * K::kLanes, K::orv(K::andv(p, rgb), K::template sll<24>(luma)));
            }
        }
        // A row of the block just like the one above it adds to a run,
        // counted in one go when the run ends: flat areas and vertical
        // edges cost a compare a row instead of 32 increments.
        const auto addRun = [&counts](const uint32_t (&words)[kWaveformBlock], uint32_t run) {
#pragma GCC unroll 8
            for (int c = 0; c < kWaveformBlock; ++c) {
                const uint32_t word = words[c];
                counts[word >> 24][kLuma][c] += run;
                counts[(word >> 16) & 0xFF][kRed][c] += run;
                counts[(word >> 8) & 0xFF][kGreen][c] += run;
                counts[word & 0xFF][kBlue][c] += run;
            }
        };
        int32_t runRow = 0;
        uint32_t run = 1;
        for (int32_t k = 1; k < batch; ++k) {
            if (sameWords<K>(words[k], words[runRow])) {
                ++run;
                continue;
            }
            addRun(words[runRow], run);
            runRow = k;
            run = 1;
        }
        addRun(words[runRow], run);
    }
}

// Brightness of p pixels: 0 for none, else 128 + 5 p up to 255. The ramp
// tells apart up to 1023 pixels, far past the 26 that reach 255.
template <typename K>
void drawDots(WaveformCounts& counts, int channel, int32_t level, int32_t levelStep, int32_t dots,
              uint32_t* out, ptrdiff_t outStep, uint32_t byteMask) {
    using V = typename K::V;
    const V mask = K::set1(byteMask);
    const V zero = K::zero();
    const V full = K::set1(26);  // pixels that reach 255
    const V base = K::set1(128);
    char* row = reinterpret_cast<char*>(out);
    for (int32_t i = 0; i < dots; ++i, row += outStep) {
        uint32_t* n = counts[level + i * levelStep][channel];
        uint32_t* o = reinterpret_cast<uint32_t*>(row);
        for (int v = 0; v < kBlockVectors(K::kLanes); ++v) {
            const V count = K::load(n + v * K::kLanes);
            K::store(n + v * K::kLanes, zero);
            // Counts never exceed the source's height, so they compare as signed.
            const V p = K::minSigned(count, full);
            const V five = K::add(K::template sll<2>(p), p);
            const V bright = K::andNot(K::cmpEq(p, zero), K::minSigned(K::add(five, base), K::set1(255)));
            const V grey = K::orv(K::orv(bright, K::template sll<8>(bright)), K::template sll<16>(bright));
            K::store(o + v * K::kLanes, K::orv(K::load(o + v * K::kLanes), K::andv(grey, mask)));
        }
    }
}

}  // namespace
