#include "input/yuv_rows_simd.h"

void yuvRowSse2(const YuvTables& t, const YuvRow& row) { yuvRowAt<__m128i>(t, row); }
