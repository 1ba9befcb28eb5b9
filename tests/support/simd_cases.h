// The checkasm side of the tests: kernel levels, the frames every level
// meets (random, extreme fills, odd widths, 1x1, a tall column, padded
// pitch with a sentinel), random settings, and records prepared as the
// parameter stage leaves them. The display tests and the measure tests
// share them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/simd_level.h"
#include "modes/display_table.h"
#include "support/image.h"
#include "support/rng.h"
#include "support/test_host.h"  // describe()

std::vector<SimdLevel> vectorLevels();  // the levels above the scalar code this processor runs
std::string levelName(SimdLevel level);

struct Frames {
    std::string name;
    Image picture;
    int32_t pad;
};

// All 2^24 colours once each, with a varying top byte.
Image everyColour();
std::vector<Frames> smallFrames(TestRng& rng);

struct Outcome {
    Image out;
    bool paddingIntact;
    std::vector<unsigned char> record;
};
// One frame of a copy of `prepared` at `level`.
Outcome renderAt(const ScopeInstance& prepared, const StoredFrame& src, const OutputGeometry& g, int32_t pad,
                 SimdLevel level);

ScopeSettings randomSettings(TestRng& rng, DisplayMode mode);
// A record prepared for `s` with a source of the given size, as paramProc leaves it.
std::unique_ptr<ScopeInstance> prepared(const ScopeSettings& s, int32_t w, int32_t h, OutputGeometry& g);

inline constexpr DisplayMode kModes[] = {DisplayMode::Histograms, DisplayMode::HotPixel, DisplayMode::Video,
                                         DisplayMode::Waveform, DisplayMode::Vectorscope};
