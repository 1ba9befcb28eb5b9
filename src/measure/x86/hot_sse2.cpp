#include "measure/hot_simd.h"

const HotPixelKernels kHotPixelKernelsSse2 = {decideRow<VecSse2>, countRow<VecSse2>};
