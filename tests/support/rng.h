// A small, fixed pseudo-random sequence (xorshift32), so randomised tests
// see the same inputs on every platform and every run.
#pragma once

#include <cstdint>

struct TestRng {
    uint32_t state;  // any non-zero seed
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int bit() { return static_cast<int>(next() & 1); }
    int32_t below(int32_t n) { return static_cast<int32_t>(next() % static_cast<uint32_t>(n)); }
};
