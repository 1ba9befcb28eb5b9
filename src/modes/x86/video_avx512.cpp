#include "modes/video_simd.h"

const VideoRowKernels kVideoRowsAvx512 = {maskRow<VecAvx512>, greyRow<VecAvx512>};
