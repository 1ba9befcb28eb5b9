#include "modes/histograms_simd.h"

const HistogramRowKernels kHistogramRowsSse2 = {levelsRow<VecSse2>, levelsAndExtremes<VecSse2>};
