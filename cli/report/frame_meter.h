// A frame's numbers from the filter's own code, linked as a library: the
// histograms' count (its luma tables and "AVD") and the hot pixel scan's
// decision, each on an instance record the parameter stage prepared for
// that display. Per frame, integer table reads only.
#pragma once

#include <memory>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "modes/simd_level.h"
#include "report/report_data.h"

class FrameMeter {
public:
    // `settings` as the module's instance holds them, maxIRE included; the
    // display chosen in them does not matter.
    FrameMeter(const ScopeSettings& settings, int32_t w, int32_t h, SimdLevel level = hostSimdLevel());

    // `luma`: the picture as the histograms get it; `hot`: as the hot pixel
    // scan gets it (the same frame, but for a limited-range source under
    // 16-235, whose histograms see studio RGB).
    void measure(const ConstFrame& luma, const ConstFrame& hot, FrameNumbers& out);

private:
    std::unique_ptr<ScopeInstance> luma_, hot_;
    SimdLevel level_;
};
