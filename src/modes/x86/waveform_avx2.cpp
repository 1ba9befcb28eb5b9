#include "modes/waveform_simd.h"

const WaveformKernels kWaveformKernelsAvx2 = {countBlock<VecAvx2>, drawDots<VecAvx2>};
