#include "measure/level_words_simd.h"

const LevelWordKernels kLevelWordsAvx512 = {levelsRow<VecAvx512>, levelsAndExtremes<VecAvx512>,
                                            countPairsRow<VecAvx512>};
