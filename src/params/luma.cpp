#include "params/luma.h"

void buildLumaRows(ScopeInstance& inst, const LumaCoefficients& c) {
    const double weights[3] = {c.r, c.g, c.b};
    for (int row = 0; row < 3; ++row) {
        for (int i = 0; i < kLevels; ++i) {
            // i * 2^24 reaches 4278190080: wider than a signed 32-bit int.
            const double x = static_cast<double>(static_cast<int64_t>(i) << kLumaShift);
            inst.weightTable[row][i] = static_cast<uint32_t>(weights[row] * x + 0.5);
        }
    }
}
