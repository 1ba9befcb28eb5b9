// One frame's record in a report: what the filter's own measures and the
// source's code values make of it. The report's columns (report_columns.h)
// say which of these each form writes.
#pragma once

#include <cstdint>

#include "core/settings_vocabulary.h"

// The source's own measures, in the order their columns come.
enum SourceMeasure : int {
    kSourceY = 0,
    kSourceCb,
    kSourceCr,
    kSourceR,
    kSourceG,
    kSourceB,
    kSourceMeasureCount
};

// One frame: the filter's own measures (its histograms and hot pixel scan,
// at its settings) and the source's own luma code values, which the range
// rule judges.
struct FrameNumbers {
    int64_t frame = 0;  // the frame's number in the source
    double time = 0.0;  // its presentation time, seconds
    int32_t avd = 0;    // the histograms' "AVD"
    // Lowest and highest level the histograms see, every pixel counting; channel order.
    int32_t lowest[kChannelCount] = {};
    int32_t highest[kChannelCount] = {};
    int64_t pixels = 0;
    int64_t hotPixels = 0;
    // Pixels whose source luma code value is below 16, above 235; the lowest
    // and highest code value present (-1 without pixels).
    int64_t below16 = 0, above235 = 0;
    int32_t sourceLowest = -1, sourceHighest = -1;
    // The source's Y, Cb, Cr and R, G, B at its own depth, lowest and
    // highest, and the pixels the range rule finds outside. A source coded
    // as RGB has its own R, G and B here and -1 for Y, Cb and Cr; one not
    // measured, -1 throughout.
    int32_t srcLowest[kSourceMeasureCount] = {-1, -1, -1, -1, -1, -1};
    int32_t srcHighest[kSourceMeasureCount] = {-1, -1, -1, -1, -1, -1};
    int64_t outside = 0;

    double share(int64_t n) const { return pixels > 0 ? 100.0 * static_cast<double>(n) / pixels : 0.0; }
    double hotPercent() const { return share(hotPixels); }
    double outsidePercent() const { return share(outside); }
};
