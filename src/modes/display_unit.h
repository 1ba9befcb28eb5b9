// One entry per DisplayMode: how the parameter stage prepares the display
// and which renderer draws its frames. The display is chosen once per frame
// by indexing this table, never inside a pixel loop.
#pragma once

#include "draw/frame.h"
#include "host/scope_instance.h"
#include "params/param_stage.h"

using PrepareFn = void (*)(ScopeInstance&, OutputGeometry&);
using RenderFn = int (*)(ScopeInstance&, const ConstFrame& src, const Frame& dst);

struct DisplayUnit {
    bool usesChosenLuma;  // the stage builds luma rows from the settings' set
    PrepareFn prepare;    // the display's own tables and output geometry
    RenderFn render;
};

extern const DisplayUnit kDisplayUnits[kDisplayModeCount];
