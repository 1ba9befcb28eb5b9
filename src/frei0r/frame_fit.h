// A display of its own size placed in a frame of the host's size: frei0r
// keeps the output the size of the input. A display that fits goes in at
// the largest whole scale that fits (nearest neighbour, so every scope pixel
// stays exact), centred on black; one larger than the frame is reduced,
// keeping its aspect, by area averaging; one that would shrink below a
// quarter of its size is not readable, and the frame says so instead.
// Every output pixel is opaque.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/frame.h"

enum class FitKind {
    Direct,    // the display is the frame's size: drawn straight into it
    Enlarge,   // a whole scale of 1 or more
    Reduce,    // area averaging down to the placed size
    TooSmall,  // black, and a note when it fits
    Nothing,   // no display at all (a Config line's unknown mode): black
};

inline constexpr uint32_t kOpaque = 0xFF000000;  // the alpha byte of a 32-bit pixel
inline constexpr uint32_t kOpaqueBlack = kOpaque;
// A display reduced to less than 1 / kLeastReadableShare of its size in
// each direction no longer shows its lines and labels.
inline constexpr int32_t kLeastReadableShare = 4;

struct FitPlan {
    FitKind kind;
    int32_t displayW, displayH;
    int32_t scale;       // Enlarge
    int32_t x, y, w, h;  // where the display lands, in canvas coordinates
};

FitPlan planFit(int32_t frameW, int32_t frameH, int32_t displayW, int32_t displayH);

// Index `to`-long sequence's element i takes from a `from`-long one: the
// element under its centre. The one rule for picking a nearest neighbour.
inline int32_t nearestSource(int32_t i, int32_t to, int32_t from) {
    return static_cast<int32_t>((2 * static_cast<int64_t>(i) + 1) * from / (2 * static_cast<int64_t>(to)));
}

// Area averaging along one axis from `from` elements to `to` (to <= from):
// target t covers [t * from, (t + 1) * from) and source i [i * to,
// (i + 1) * to), so each overlap is a whole number and a target's weights
// add up to `from`. Target t's taps are start[t] .. start[t + 1] - 1.
struct AxisTaps {
    int32_t* start;    // to + 1 entries
    int32_t* source;   // taps: from + to entries at most
    uint32_t* weight;  // the overlap of each tap
};
inline constexpr size_t axisTapCapacity(int32_t from, int32_t to) {
    return static_cast<size_t>(from) + static_cast<size_t>(to);
}
void buildAxisTaps(int32_t from, int32_t to, AxisTaps& taps);

// The display in the frame by `plan` (Enlarge, Reduce), black around it.
void placeDisplay(const FitPlan& plan, const ConstFrame& display, const AxisTaps& tapsX,
                  const AxisTaps& tapsY, const Frame& frame);
// TooSmall and Nothing: the frame black, with the note for TooSmall when it fits.
void blankFrame(const FitPlan& plan, const Frame& frame);
// Direct: the display already drawn into the frame, made opaque.
void makeOpaque(const Frame& frame);

// The picture narrowed to `dst.w` columns, each the nearest source column
// (`columns`, one entry per destination column, built by buildNarrowing).
void buildNarrowing(int32_t from, int32_t to, int32_t* columns);
void narrowPicture(const ConstFrame& src, const int32_t* columns, const Frame& dst);
