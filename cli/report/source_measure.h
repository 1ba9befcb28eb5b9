// The range rule on the source's own code values: its limits at the
// source's depth, and a frame's numbers from the decoded planes (or, for a
// source coded as RGB, from the luma a converter would give it).
#pragma once

#include "input/source_luma.h"
#include "input/source_planes.h"
#include "report/report_data.h"

// The rule's limits at `bits` per sample, each rounded to the nearest code value.
SourceBounds boundsFor(const RangeRule& rule, int bits);

// Notes in `file` what the rule judges at `bits` and whether the planes were measured.
void noteLimits(const RangeRule& rule, int bits, bool measured, FileReport& file);

// Fills the frame's source measures and its pixels outside the rule:
// from `planes` when `gauge` measured them; else R, G and B from `planes`
// (measureRgbPlanes, none without pixels) and the pixels outside from
// `luma` (8-bit codes).
void sourceNumbers(const SourceGauge* gauge, const SourcePart& planes, const LumaHistogram& luma,
                   const RangeRule& rule, FrameNumbers& out);
