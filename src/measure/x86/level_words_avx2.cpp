#include "measure/level_words_simd.h"

const LevelWordKernels kLevelWordsAvx2 = {levelsRow<VecAvx2>, levelsAndExtremes<VecAvx2>,
                                          countPairsRow<VecAvx2>};
