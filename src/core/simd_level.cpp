#include "core/simd_level.h"

namespace {

SimdLevel detectSimdLevel() {
#if KIVREL_X86_KERNELS
    // libgcc's check also asks the system whether it saves the wide
    // registers (and for AVX-512 the mask and upper ZMM ones). The AVX-512
    // files are built for exactly these four subsets.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx2"))
        return SimdLevel::Avx512;
    if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
    return SimdLevel::Sse2;
#else
    return SimdLevel::Scalar;
#endif
}

}  // namespace

SimdLevel machineSimdLevel() {
    static const SimdLevel level = detectSimdLevel();
    return level;
}
