// Vectorscope: each pixel's chroma as a 2x2 dot on a circular graticule.
#pragma once

#include <cstdint>

#include "draw/frame.h"
#include "host/scope_instance.h"
#include "params/param_stage.h"

inline constexpr int32_t kVectorscopeSize = 632;

void prepareVectorscope(ScopeInstance& inst, OutputGeometry& geometry);
int renderVectorscope(ScopeInstance& inst, const ConstFrame& src, const Frame& dst);
