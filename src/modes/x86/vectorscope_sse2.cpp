#include "modes/vectorscope_simd.h"

const VectorscopeRowKernels kVectorscopeRowsSse2 = {offsetsRow<VecSse2>};
