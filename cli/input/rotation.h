// A picture turned to stand as players show it: by whole quarters
// clockwise, as a stream's display matrix asks. One rule, where each shown
// pixel comes from in the picture as stored, serves the pixels turned for
// the filter and the windows of the stored planes a measure reads.
#pragma once

#include <cstdint>

#include "input/source_luma.h"
#include "pluginhost/frame_buffer.h"

inline constexpr int kQuarterTurn = 90, kHalfTurn = 180, kThreeQuarterTurn = 270;  // degrees clockwise

struct Turn {
    int degrees = 0;                   // 0, kQuarterTurn, kHalfTurn or kThreeQuarterTurn
    int32_t storedW = 0, storedH = 0;  // the picture as decoded

    bool sideways() const { return degrees == kQuarterTurn || degrees == kThreeQuarterTurn; }
    int32_t shownW() const { return sideways() ? storedH : storedW; }
    int32_t shownH() const { return sideways() ? storedW : storedH; }

    // The stored sample (sx, sy) that shown pixel (x, y) comes from.
    void source(int32_t x, int32_t y, int32_t& sx, int32_t& sy) const {
        switch (degrees) {
        case kQuarterTurn: sx = y, sy = storedH - 1 - x; break;
        case kHalfTurn: sx = storedW - 1 - x, sy = storedH - 1 - y; break;
        case kThreeQuarterTurn: sx = storedW - 1 - y, sy = x; break;
        default: sx = x, sy = y; break;
        }
    }
};

// Degrees clockwise, whole quarters, of a turn `counterClockwise` degrees
// the other way (a display matrix's angle); 0 for NaN.
int quartersClockwise(double counterClockwise);

// `src`, top-down rows of storedW words, turned into `out` (shownW x shownH).
void turnPicture(const Turn& turn, const uint32_t* src, FrameBuffer& out);

// The stored rows and columns the shown rectangle (x, y, w, h) comes from.
PlaneWindow storedWindow(const Turn& turn, int32_t x, int32_t y, int32_t w, int32_t h);
