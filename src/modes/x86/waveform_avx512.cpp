#include "modes/waveform_simd.h"

// A block is one 512-bit vector of columns, and its cells pack two vectors
// to one: the AVX2 kernels, built with the wider set's registers.
const WaveformKernels kWaveformKernelsAvx512 = {countBlock<VecAvx2>, drawDots<VecAvx2>};
