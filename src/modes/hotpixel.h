// Hot pixel scan: pixels whose colour is illegal for broadcast are turned
// black or pulled back into the legal range; legal pixels pass unchanged.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"

// Its preparation is the decision's own: prepareHotModel (measure/hot_decision.h).

// One pixel through the test; no side effects.
uint32_t hotPixelTest(const ScopeInstance& inst, uint32_t px);
int renderHotPixel(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);
