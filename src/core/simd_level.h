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
    Sse2 = 1,  // every x86-64 processor, and the 32-bit Windows build's floor
    Avx2 = 2,  // chosen at run time: only its own files are built for it
};
inline constexpr int32_t kSimdLevelCount = 3;
inline constexpr std::string_view kSimdLevelNames[kSimdLevelCount] = {"scalar", "sse2", "avx2"};

// The highest level both this build and this processor run.
SimdLevel hostSimdLevel();

// The kernels of `level`, falling back to a lower level where a display has
// none of its own; null for the scalar code. Kernel sets are null where
// this build has no x86 kernels.
template <typename Kernels>
const Kernels* kernelsAt(SimdLevel level, const Kernels* sse2, const Kernels* avx2) {
    if (level >= SimdLevel::Avx2 && avx2 != nullptr) return avx2;
    if (level >= SimdLevel::Sse2) return sse2;
    return nullptr;
}
