// Every kernel level this processor runs against the scalar reference, as
// a checkasm does: the same prepared record and the same frames (random,
// extreme fills, every colour, odd widths, 1x1, padded pitch with a
// sentinel), and records whose settings changed after the parameter stage
// (stale tables of another display). Outputs and records must agree bit for
// bit; a mismatch names the display, the level, the frame and the first
// differing pixel or byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/simd_cases.h"

namespace {

// Renders `src` at every level from the same record and compares with the scalar code.
void expectLevelsAgree(const ScopeInstance& prepared, const OutputGeometry& g, const Frames& f,
                       const std::string& what) {
    const StoredFrame src(f.picture, f.pad);
    const Outcome ref = renderAt(prepared, src, g, f.pad, SimdLevel::Scalar);
    for (SimdLevel level : vectorLevels()) {
        const Outcome o = renderAt(prepared, src, g, f.pad, level);
        const std::string where = what + ", " + levelName(level) + ", " + f.name;
        EXPECT_TRUE(o.paddingIntact) << where;
        ASSERT_EQ(o.out.px.size(), ref.out.px.size()) << where;
        for (size_t i = 0; i < o.out.px.size(); ++i) {
            if (o.out.px[i] != ref.out.px[i]) {
                ADD_FAILURE() << where << ": output " << g.w << "x" << g.h << " differs first at (" << i % g.w
                              << ", " << i / g.w << "): " << std::hex << o.out.px[i] << " against scalar "
                              << ref.out.px[i];
                break;
            }
        }
        for (size_t i = 0; i < o.record.size(); ++i) {
            if (o.record[i] != ref.record[i]) {
                ADD_FAILURE() << where << ": record differs first at byte " << i;
                break;
            }
        }
    }
}

}  // namespace

// The levels every check here runs reach the widest set the system says the
// processor has (Linux's flags, which leave out what the system does not
// save): a level the detection missed would go untested and unused. Under
// user-mode emulation /proc/cpuinfo is the machine's, not the emulated
// processor's: there the run names the emulated model's widest level in
// KIVREL_EMULATED_SIMD (scripts/test.sh's i686 stage), and the levels must
// stop exactly at it.
TEST(SimdPaths, TheLevelsReachTheWidestSetTheSystemLists) {
    if (const char* emulated = std::getenv("KIVREL_EMULATED_SIMD")) {
        const std::vector<SimdLevel> levels = vectorLevels();
        EXPECT_EQ(levels.empty() ? "scalar" : levelName(levels.back()), emulated)
            << "the widest level run, on an emulated processor whose widest set is " << emulated;
        return;
    }
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    if (line.rfind("flags", 0) != 0) GTEST_SKIP() << "the system lists no processor flags";
    std::istringstream words(line);
    const std::set<std::string> flags{std::istream_iterator<std::string>(words), {}};
    std::vector<std::string> names;
    for (const SimdLevel level : vectorLevels()) names.push_back(levelName(level));
    const struct {
        const char* level;
        std::vector<std::string> flags;
    } kSets[] = {{"avx2", {"avx2"}}, {"avx512", {"avx512f", "avx512bw", "avx512vl", "avx512dq"}}};
    for (const auto& set : kSets) {
        if (!std::all_of(set.flags.begin(), set.flags.end(),
                         [&](const std::string& f) { return flags.count(f) != 0; }))
            continue;
        EXPECT_NE(std::find(names.begin(), names.end(), set.level), names.end()) << set.level;
    }
}

TEST(SimdPaths, EveryLevelMatchesTheScalarCodeOnEveryDisplay) {
    if (vectorLevels().empty()) GTEST_SKIP() << "this build or processor has only the scalar code";
    TestRng rng{20261208};
    const std::vector<Frames> frames = smallFrames(rng);
    for (DisplayMode mode : kModes) {
        for (int trial = 0; trial < 12; ++trial) {
            const ScopeSettings s = randomSettings(rng, mode);
            for (const Frames& f : frames) {
                OutputGeometry g;
                const auto inst = prepared(s, f.picture.w, f.picture.h, g);
                expectLevelsAgree(*inst, g, f, describe(s));
            }
        }
    }
}

TEST(SimdPaths, EveryColourThroughEveryDisplay) {
    if (vectorLevels().empty()) GTEST_SKIP() << "this build or processor has only the scalar code";
    const Frames all{"every colour 4096x4096", everyColour(), 1};
    TestRng rng{77};
    for (DisplayMode mode : kModes) {
        ScopeSettings s = randomSettings(rng, mode);
        s.passthru = 0;
        s.luma = 1;
        OutputGeometry g;
        const auto inst = prepared(s, all.picture.w, all.picture.h, g);
        expectLevelsAgree(*inst, g, all, describe(s));
    }
}

// A script may switch the display (and any switch) after the parameter
// stage: every level must then read the other display's tables alike.
TEST(SimdPaths, StaleTablesOfAnotherDisplay) {
    if (vectorLevels().empty()) GTEST_SKIP() << "this build or processor has only the scalar code";
    TestRng rng{4242};
    const std::vector<Frames> frames = smallFrames(rng);
    for (DisplayMode from : kModes) {
        for (DisplayMode to : kModes) {
            for (int trial = 0; trial < 3; ++trial) {
                const ScopeSettings before = randomSettings(rng, from);
                const ScopeSettings after = randomSettings(rng, to);
                for (const Frames& f : frames) {
                    OutputGeometry g;
                    const auto inst = prepared(before, f.picture.w, f.picture.h, g);
                    inst->settings = after;
                    expectLevelsAgree(*inst, g, f,
                                      "prepared for " + describe(before) + ", drawn for " + describe(after));
                }
            }
        }
    }
}
