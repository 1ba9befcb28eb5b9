#include "measure/hot_simd.h"

const HotPixelKernels kHotPixelKernelsAvx512 = {decideRow<VecAvx512>, countRow<VecAvx512>};
