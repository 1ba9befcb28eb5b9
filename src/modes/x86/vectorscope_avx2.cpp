#include "modes/vectorscope_simd.h"

const VectorscopeRowKernels kVectorscopeRowsAvx2 = {offsetsRow<VecAvx2>};
