#include "modes/waveform_simd.h"

const WaveformKernels kWaveformKernelsSse2 = {countBlock<VecSse2>, drawDots<VecSse2>};
