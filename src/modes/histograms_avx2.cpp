#include "modes/histograms_simd.h"

const HistogramRowKernels kHistogramRowsAvx2 = {levelsRow<VecAvx2>, levelsAndExtremes<VecAvx2>};
