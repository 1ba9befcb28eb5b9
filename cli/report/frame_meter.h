// A frame's numbers from the filter's own code, linked as a library: the
// histograms' luma tally (its luma tables and "AVD") and the hot pixel
// scan's decision, each on an instance record the parameter stage prepared
// for that display. Integer table reads only; a frame may be measured in
// parts (bands of rows, on several threads), whose numbers add up.
#pragma once

#include <memory>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"
#include "input/source_luma.h"
#include "measure/hot_decision.h"
#include "measure/level_tally.h"
#include "report/report_data.h"

struct FramePart {
    LevelTally levels;
    int64_t hotPixels = 0;
    LumaHistogram sourceLuma{};  // the source's own luma code values, for the range rule

    void add(const FramePart& other) {
        levels.add(other.levels);
        hotPixels += other.hotPixels;
        for (size_t v = 0; v < sourceLuma.size(); ++v) sourceLuma[v] += other.sourceLuma[v];
    }
};

class FrameMeter {
public:
    // `settings` as the module's instance holds them, maxIRE included; the
    // display chosen in them does not matter.
    FrameMeter(const ScopeSettings& settings, int32_t w, int32_t h, SimdLevel level = machineSimdLevel());

    // Adds rows of a frame to `part`: `luma` as the histograms get them,
    // `hot` as the hot pixel scan gets them (the same rows, but for a
    // limited-range source under 16-235, whose histograms see studio RGB).
    // Several threads may measure at once, each into its own part.
    void measure(const ConstFrame& luma, const ConstFrame& hot, FramePart& part) const;
    // The numbers of a frame whose parts add up to `whole`.
    static void numbers(const FramePart& whole, FrameNumbers& out);

private:
    std::unique_ptr<ScopeInstance> luma_, hot_;
    LevelTallier tallier_;        // on luma_
    HotPixelCounter hotCounter_;  // on hot_
};
