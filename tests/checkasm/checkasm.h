// One runner for every row kernel of the filter and of the host's
// conversion, as checkasm does: each kernel on its own, every level this
// processor runs against the scalar entry of its table on the same rows,
// and with --bench the same calls timed per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/simd_level.h"

// Source rows every kernel reads: random words with the extremes 0 and
// 0xFFFFFFFF at each row's ends, `pitch` words apart.
struct CheckRows {
    std::vector<uint32_t> words;
    int32_t w = 0, h = 0, pitch = 0;
    const uint32_t* row(int32_t y) const { return words.data() + static_cast<ptrdiff_t>(y) * pitch; }
};

// One kernel: runs the set of `level` over `rows`, appending everything it
// wrote to `out` (null when timed); a level's output must equal the scalar
// entry's word for word.
struct KernelCase {
    std::string name;
    std::function<void(SimdLevel level, const CheckRows& rows, std::vector<uint32_t>* out)> run;
};

std::vector<KernelCase> filterKernelCases();
std::vector<KernelCase> hostKernelCases();  // empty where the host is not built
