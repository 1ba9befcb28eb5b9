// The instruction set levels the renderers have kernels for. The level is
// found once per process from the processor's features and handed to the
// renderer with each frame; a renderer picks its row kernels from it before
// any pixel loop starts. The scalar code is the reference every faster path
// must match bit for bit.
#pragma once

#include <cstdint>
#include <string_view>

enum class SimdLevel : int32_t {
    Scalar = 0,
    Sse2 = 1,    // every x86-64 processor, and the 32-bit Windows build's floor
    Avx2 = 2,    // chosen at run time: only its own files are built for it
    Avx512 = 3,  // F, BW, VL and DQ, likewise at run time
};
inline constexpr int32_t kSimdLevelCount = 4;
inline constexpr std::string_view kSimdLevelNames[kSimdLevelCount] = {"scalar", "sse2", "avx2", "avx512"};

// The highest level both this build and this processor run.
SimdLevel machineSimdLevel();

// A unit's kernel table: one set of row functions per level, the scalar
// reference first and always present; a level this build has no set of its
// own for is null and runs the highest set below it.
template <typename Kernels>
using KernelTable = const Kernels* const[kSimdLevelCount];

// The set of `level` in `table`, chosen once, before any pixel loop.
template <typename Kernels>
const Kernels& kernelsFor(SimdLevel level, KernelTable<Kernels>& table) {
    for (int32_t l = static_cast<int32_t>(level); l > 0; --l) {
        if (table[l] != nullptr) return *table[l];
    }
    return *table[0];
}

// A unit's x86 sets for its table, after the scalar set: the one place that
// knows whether this build has vector kernels at all. The CMake builds a
// unit's x86/ files only where it does, so elsewhere the names are never
// referred to.
// A unit whose AVX-512 set would not be faster names its AVX2 set for it.
#if KIVREL_X86_KERNELS
#define KIVREL_X86_SETS(sse2, avx2, avx512) &(sse2), &(avx2), &(avx512)
#else
#define KIVREL_X86_SETS(sse2, avx2, avx512) nullptr, nullptr, nullptr
#endif
