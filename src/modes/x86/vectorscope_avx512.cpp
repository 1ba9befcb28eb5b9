#include "modes/vectorscope_simd.h"

const VectorscopeRowKernels kVectorscopeRowsAvx512 = {offsetsRow<VecAvx512>};
