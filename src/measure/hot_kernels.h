// Kernel of the hot pixel scan at the vector levels. The nine colour-model
// rows are packed per channel level into one 64-bit word of biased 16-bit
// parts, so a pixel's Y, C1 and C2 are three reads and two additions; the
// legality test then runs on vectors of those sums.
#pragma once

#include <cstdint>

#include "core/scope_instance.h"
#include "core/simd_level.h"

// Every entry must lie within +-kHotPartBias: three biased parts then sum
// below 2^16, so the additions never carry from one part into the next.
inline constexpr int32_t kHotPartBias = 10922;  // (2^16 - 1) / 6

// Most pictures keep whole runs of pixels well inside or well outside the
// legal range, so the kernels first look the run up in a coarse cube of
// colours: a cell holds 16 levels of each channel and is marked when every
// colour in it decides alike. Only runs that touch an unmarked cell are
// decided pixel by pixel.
inline constexpr int kHotCellShift = 4;                            // levels of a cell side: 1 << 4
inline constexpr int kHotCellsPerSide = kLevels >> kHotCellShift;  // 16
inline constexpr int kHotCells = kHotCellsPerSide * kHotCellsPerSide * kHotCellsPerSide;
// A cell's mark; several cells' marks ANDed give kHotCellLegal or
// kHotCellHot only when every one of them carries it.
enum HotCellMark : uint8_t { kHotCellMixed = 0, kHotCellLegal = 1, kHotCellHot = 2 };

// The cell of 0x00RRGGBB: its channels' top four bits as R, G, B digits.
constexpr uint32_t hotCellOf(uint32_t px) {
    return (px >> 12 & 0xF00) | (px >> 8 & 0x0F0) | (px >> 4 & 0x00F);
}

struct HotPackedRows {
    // Per channel (R, G, B) and level: C1 + bias in bits 0..15, C2 + bias in
    // 16..31, Y + bias in 32..47, zero above.
    uint64_t rows[3][kLevels];
    int32_t peak;                 // the decision's ceiling, 0..9830
    int32_t chromaSquared;        // the decision's chroma limit squared, 0..2^24
    uint8_t cellMark[kHotCells];  // a HotCellMark per cell, indexed by hotCellOf
};

// What a kernel reads: the scalar reference the colour-model rows and limits
// of the record, whatever they hold; the vector kernels the packed rows,
// which they are chosen for only where every entry fits them.
struct HotRowSource {
    const ScopeInstance* inst;
    HotPackedRows packed;
};

struct HotPixelKernels {
    // out[x] = the source word when pixel x is legal, else 0; the positions
    // of the hot pixels go to `hot`, unless it is null. Returns how many
    // positions it wrote.
    int32_t (*decide)(const HotRowSource& src, const uint32_t* in, uint32_t* out, int32_t n, int32_t* hot);
    // The same decision, giving only how many of the n pixels are hot.
    int32_t (*count)(const HotRowSource& src, const uint32_t* in, int32_t n);
};

extern const HotPixelKernels kHotPixelKernelsSse2;
extern const HotPixelKernels kHotPixelKernelsAvx2;
extern const HotPixelKernels kHotPixelKernelsAvx512;

// The kernels of `level` for `inst`'s rows, with `src` filled in for them:
// the scalar reference where an entry does not fit the packed rows.
const HotPixelKernels& hotPixelKernels(const ScopeInstance& inst, SimdLevel level, HotRowSource& src);
