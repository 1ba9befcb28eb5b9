#include "input/yuv_rows_simd.h"

void yuvRowAvx2(const YuvTables& t, const YuvRow& row) { yuvRowAt<__m256i>(t, row); }
