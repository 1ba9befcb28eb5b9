// The luma weight rows as arithmetic, so vector kernels can compute a
// pixel's weight sum without three table reads. The parameter stage builds
// each row as round(c * i * 2^24); such a row is a whole multiple of the
// level plus a rounded fraction of it. The form is found from the rows
// themselves each frame and used only where it reproduces every entry, so
// a row of any other content (a stale table) still gets its exact sum from
// the scalar code.
#pragma once

#include <cstdint>

#include "core/scope_instance.h"
#include "params/luma.h"

inline constexpr int kFractionBits = 15;  // of the per-level fraction: what a 16-bit multiply keeps

// Row c [i] == a[c] * i + ((i * f[c] + 2^14) >> 15), modulo 2^32, for all
// 256 levels; rows in weightTable order: red, green, blue.
struct AffineLuma {
    uint32_t a[3];
    uint16_t f[3];  // below 2^15
};

// True, with the form filled in, when rows 0..2 all have it.
bool findAffineLuma(const ScopeInstance& inst, AffineLuma& form);

// One row entry from the form, as the vector kernels compute it.
inline uint32_t affineEntry(uint32_t a, uint16_t f, uint32_t level) {
    return a * level + ((level * f + (1u << (kFractionBits - 1))) >> kFractionBits);
}

// A pixel's weight sum from the form: what lumaWeightSum gives wherever the
// form was found. The scalar kernel sets compute it so.
inline uint32_t affineWeightSum(const AffineLuma& form, uint32_t px) {
    return affineEntry(form.a[0], form.f[0], redOf(px)) + affineEntry(form.a[1], form.f[1], greenOf(px)) +
           affineEntry(form.a[2], form.f[2], blueOf(px));
}
