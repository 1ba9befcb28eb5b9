#include "modes/video_simd.h"

const VideoRowKernels kVideoRowsSse2 = {maskRow<VecSse2>, greyRow<VecSse2>};
