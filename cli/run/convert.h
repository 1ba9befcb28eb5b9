// The convert stage of a run: the reader turns each decoded frame into the
// host's 32-bit RGB words, at the levels the display measures against (a
// monitor tells the reader its tiles' own).
#pragma once

#include "filter/display_state.h"
#include "input/input.h"
#include "pluginhost/module_host.h"

// For the one display `inst` shows.
void convertFor(Reader& reader, FilterInstance& inst, const Display& display);
