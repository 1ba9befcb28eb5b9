#include "input/yuv_rows_simd.h"

const YuvRowKernels kYuvRowsAvx2 = {yuvRowAt<VecAvx2>};
