#include "measure/luma_form.h"

namespace {

constexpr int64_t kFractionOne = int64_t{1} << kFractionBits;
constexpr int64_t kFractionHalf = kFractionOne / 2;

// The fraction that fits row `row` with the whole part `a`, if any. Each
// level i asks for a rounded part d = row[i] - a i, that is
// d * 2^15 <= i * f + 2^14 < (d + 1) * 2^15. The least f meeting every lower
// bound is found in one pass (raising f only where a level asks for more,
// which keeps the levels before it satisfied); the upper bounds are then
// checked with every entry. Runs each frame, so it divides only to raise f.
bool fractionFor(const uint32_t (&row)[kLevels], uint32_t a, uint16_t& f) {
    int64_t least = 0;
    for (int64_t i = 1; i < kLevels; ++i) {
        const int64_t d = static_cast<uint32_t>(row[i] - a * static_cast<uint32_t>(i));
        if (d > i) return false;
        if (((i * least + kFractionHalf) >> kFractionBits) < d) {
            least = (d * kFractionOne - kFractionHalf + i - 1) / i;  // positive: d >= 1 here
            if (least >= kFractionOne) return false;
        }
    }
    f = static_cast<uint16_t>(least);
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
