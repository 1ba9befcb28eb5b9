// One frei0r instance: the filter's own instance record, the parameters the
// host set, and every buffer its frames need, all allocated when it is
// made, for the one frame size frei0r gives an instance for its life.
// Instances share nothing, so a host may run several on different threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/scope_instance.h"
#include "frei0r/filter_params.h"
#include "frei0r/frame_fit.h"

// The frame sizes an instance is made for: 8K UHD fits well within them.
inline constexpr uint32_t kLargestSide = 16384;
inline constexpr uint64_t kLargestArea = uint64_t{1} << 26;

struct FilterInstance {
    ScopeInstance scope;
    FilterParams params;
    ScopeSettings prepared;  // the settings of the last parameter stage
    bool hasPrepared;
    int32_t width, height;
    FitPlan plan;
    bool narrowed;   // the waveform, drawn from the picture narrowed by its scale margin
    bool pixelwise;  // the video view or hot pixel scan: each output pixel from its own source pixel
    ptrdiff_t displayPitch;
    // Owned; made by createInstance.
    uint32_t* display;  // the display at its own size, bottom-up
    size_t displayBytes;
    uint32_t* narrow;  // the narrowed picture, bottom-up
    int32_t* narrowColumns;
    AxisTaps tapsX, tapsY;
};

// Null when the size is refused (0, or beyond the largest) or memory is short.
FilterInstance* createInstance(uint32_t width, uint32_t height);
void destroyInstance(FilterInstance* instance);
// One frame: `in` and `out` are the host's top-down width x height frames.
void updateInstance(FilterInstance& instance, const uint32_t* in, uint32_t* out);
