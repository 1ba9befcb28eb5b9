// Waveform monitor: per source column, which levels occur and how often.
#pragma once

#include <cstdint>

#include "draw/frame.h"
#include "host/scope_instance.h"
#include "params/param_stage.h"

inline constexpr int32_t kWaveformScaleMargin = 40;  // level scale right of the picture

// wfmRamp: built on every run of the parameter stage, whatever the mode.
void buildWfmRamp(ScopeInstance& inst);
void prepareWaveform(ScopeInstance& inst, OutputGeometry& geometry);
int renderWaveform(ScopeInstance& inst, const ConstFrame& src, const Frame& dst);
