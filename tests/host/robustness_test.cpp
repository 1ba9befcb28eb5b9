// Whatever the settings and frame shapes, and even when a script changes the
// settings after the parameter stage ran, no display writes outside the
// output rows' pixels or reads outside the source (the sanitizer build
// catches the reads).
#include <gtest/gtest.h>

#include <string>

#include "support/rng.h"
#include "support/test_host.h"

namespace {

ConfigArgs randomArgs(TestRng& rng, int mode) {
    ConfigArgs a{};
    a[0] = mode;
    for (int i = 1; i <= 10; ++i) a[i] = rng.bit();
    a[1] = (rng.next() % 4 == 0) ? 1 : 0;  // pass-through now and then
    a[11] = static_cast<int>(rng.next() % 4);
    a[12] = rng.bit();
    return a;
}

Image randomImage(TestRng& rng, int32_t w, int32_t h) {
    Image img(w, h);
    for (uint32_t& p : img.px) p = rng.next();
    return img;
}

std::string describe(const ConfigArgs& a, int32_t w, int32_t h, int32_t pad) {
    std::string s = "Config(";
    for (size_t i = 0; i < a.size(); ++i) s += (i ? ", " : "") + std::to_string(a[i]);
    return s + ") on " + std::to_string(w) + "x" + std::to_string(h) + " pad " + std::to_string(pad);
}

struct Shape {
    int32_t w, h, pad;
};
constexpr Shape kShapes[] = {{1, 1, 0}, {1, 1, 7},   {2, 1, 1},    {1, 2, 0},  {3, 700, 1},
                             {7, 3, 2}, {321, 9, 0}, {64, 48, 13}, {700, 2, 3}};

}  // namespace

TEST(Robustness, EveryDisplayOnExtremeShapes) {
    TestHost host;
    TestRng rng{12345};
    for (int mode = -1; mode <= 5; ++mode) {
        for (const Shape& s : kShapes) {
            const ConfigArgs a = randomArgs(rng, mode);
            SCOPED_TRACE(describe(a, s.w, s.h, s.pad));
            TestInstance inst(host);
            inst.config(a);
            inst.setSource(randomImage(rng, s.w, s.h), s.pad);
            inst.param(s.pad);
            EXPECT_EQ(inst.run(), 0);
            EXPECT_EQ(inst.run(), 0);
            EXPECT_TRUE(inst.outputPaddingIntact());
            EXPECT_TRUE(inst.sourcePaddingIntact());
        }
    }
}

TEST(Robustness, SettingsChangedAfterTheParameterStage) {
    // A script line may change the display without the host running the
    // parameter stage again: the renderer then meets an output sized and
    // tables built for another display.
    TestHost host;
    TestRng rng{777};
    for (int before = 0; before < kDisplayModeCount; ++before) {
        for (int after = 0; after < kDisplayModeCount; ++after) {
            for (const Shape& s : {Shape{1, 1, 2}, Shape{5, 1100, 1}, Shape{40, 30, 3}}) {
                const ConfigArgs first = randomArgs(rng, before);
                const ConfigArgs second = randomArgs(rng, after);
                SCOPED_TRACE(describe(first, s.w, s.h, s.pad) + " then " + describe(second, s.w, s.h, s.pad));
                TestInstance inst(host);
                inst.config(first);
                inst.setSource(randomImage(rng, s.w, s.h), s.pad);
                inst.param(s.pad);
                inst.config(second);
                EXPECT_EQ(inst.run(), 0);
                EXPECT_TRUE(inst.outputPaddingIntact());
            }
        }
    }
}

TEST(Robustness, EmptySourcesInEveryDisplay) {
    TestHost host;
    for (int mode = 0; mode < kDisplayModeCount; ++mode) {
        for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{3, 0}}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + " " + std::to_string(w) + "x" + std::to_string(h));
            TestInstance inst(host);
            inst.config(defaultArgs(static_cast<DisplayMode>(mode)));
            inst.setSource(Image(w, h), 1);
            inst.param(2);
            EXPECT_EQ(inst.run(), 0);
            EXPECT_TRUE(inst.outputPaddingIntact());
        }
    }
}
