#include "measure/level_words_simd.h"

const LevelWordKernels kLevelWordsSse2 = {levelsRow<VecSse2>, levelsAndExtremes<VecSse2>,
                                          countPairsRow<VecSse2>};
