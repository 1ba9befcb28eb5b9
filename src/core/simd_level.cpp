#include "core/simd_level.h"

namespace {

SimdLevel detectSimdLevel() {
#if KIVREL_X86_KERNELS
    // libgcc's check also asks the system whether it saves the wide registers.
    if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
    return SimdLevel::Sse2;
#else
    return SimdLevel::Scalar;
#endif
}

}  // namespace

SimdLevel hostSimdLevel() {
    static const SimdLevel level = detectSimdLevel();
    return level;
}
