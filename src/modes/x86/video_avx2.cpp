#include "modes/video_simd.h"

const VideoRowKernels kVideoRowsAvx2 = {maskRow<VecAvx2>, greyRow<VecAvx2>};
