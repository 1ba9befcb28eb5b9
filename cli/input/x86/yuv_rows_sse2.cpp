#include "input/yuv_rows_simd.h"

const YuvRowKernels kYuvRowsSse2 = {yuvRowAt<VecSse2>};
