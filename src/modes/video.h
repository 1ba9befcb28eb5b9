// Video view: the picture itself, masked to the chosen channels, as grey
// luma, or (pass-through) unchanged but for a cleared top byte.
#pragma once

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"

int renderVideo(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);
