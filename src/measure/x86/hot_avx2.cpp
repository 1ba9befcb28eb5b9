#include "measure/hot_simd.h"

const HotPixelKernels kHotPixelKernelsAvx2 = {decideRow<VecAvx2>, countRow<VecAvx2>};
