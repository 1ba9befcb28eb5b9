#include "modes/luma_form.h"

namespace {

constexpr int64_t kFractionOne = int64_t{1} << kFractionBits;
constexpr int64_t kFractionHalf = kFractionOne / 2;

int64_t ceilDiv(int64_t a, int64_t b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }
int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The fraction that fits row `row` with the whole part `a`, if any: each
// level i bounds it from both sides, since its rounded part d must satisfy
// d * 2^15 <= i * f + 2^14 < (d + 1) * 2^15.
bool fractionFor(const uint32_t (&row)[kLevels], uint32_t a, uint16_t& f) {
    int64_t lo = 0;
    int64_t hi = kFractionOne - 1;
    for (int64_t i = 1; i < kLevels; ++i) {
        const int64_t d = static_cast<uint32_t>(row[i] - a * static_cast<uint32_t>(i));
        if (d > i) return false;
        const int64_t least = ceilDiv(d * kFractionOne - kFractionHalf, i);
        const int64_t most = floorDiv((d + 1) * kFractionOne - kFractionHalf - 1, i);
        if (least > lo) lo = least;
        if (most < hi) hi = most;
        if (lo > hi) return false;
    }
    f = static_cast<uint16_t>(lo);
    for (uint32_t i = 0; i < kLevels; ++i) {
        if (affineEntry(a, f, i) != row[i]) return false;
    }
    return true;
}

bool findRowForm(const uint32_t (&row)[kLevels], uint32_t& a, uint16_t& f) {
    // Entry 1 is the whole part, or one more when the fraction rounds up.
    for (const uint32_t candidate : {row[1] - 1, row[1]}) {
        if (fractionFor(row, candidate, f)) {
            a = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

bool findAffineLuma(const ScopeInstance& inst, AffineLuma& form) {
    for (int c = 0; c < 3; ++c) {
        if (!findRowForm(inst.weightTable[c], form.a[c], form.f[c])) return false;
    }
    return true;
}
