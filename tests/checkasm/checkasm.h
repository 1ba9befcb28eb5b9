// One runner for every row kernel of the filter and of kivrel's
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
// entry's word for word. Every kernel it calls goes through ran(), so that
// the runner knows which kernels a level's check really reached.
struct KernelCase {
    std::string name;
    std::function<void(SimdLevel level, const CheckRows& rows, std::vector<uint32_t>* out)> run;
};

// Any kernel's address, as the runner keeps it.
using KernelFn = void (*)();
void noteKernelRun(KernelFn kernel);
template <typename F>
F ran(F kernel) {
    noteKernelRun(reinterpret_cast<KernelFn>(kernel));
    return kernel;
}

// One kernel table as the runner audits it: the named kernels of the set
// `setAt(level)` resolves to. Each must be reached by some case at every
// level, and a case at a level may reach only that level's kernels.
struct KernelSlot {
    const char* name;
    KernelFn kernel;
};
struct KernelTableView {
    std::string name;
    std::string kernels;  // the set's type, as its KernelTable names it
    std::function<std::vector<KernelSlot>(SimdLevel level)> setAt;
};
// A set's kernels by name, every member of `Kernels` named (a set is
// nothing but kernel pointers, so a member left out fails to build).
template <typename Kernels, size_t N>
std::vector<KernelSlot> slotsOf(const KernelSlot (&named)[N]) {
    static_assert(N * sizeof(KernelFn) == sizeof(Kernels), "every kernel of the set must be named");
    return std::vector<KernelSlot>(named, named + N);
}
#define KIVREL_SLOT(set, member) \
    KernelSlot { #member, reinterpret_cast < KernelFn>((set).member) }

// The cases draw their random inputs from `seed`.
std::vector<KernelCase> filterKernelCases(uint32_t seed);
std::vector<KernelCase> cliKernelCases(uint32_t seed);  // empty where kivrel is not built
std::vector<KernelTableView> filterKernelTables();
std::vector<KernelTableView> hostKernelTables();
