#include "input/yuv_rows_simd.h"

const YuvRowKernels kYuvRowsAvx512 = {yuvRowAt<VecAvx512>};
