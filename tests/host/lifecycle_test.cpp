#include <gtest/gtest.h>

#include <string>

#include "support/test_host.h"

TEST(Lifecycle, FreshInstanceHasTheDefaults) {
    TestHost host;
    TestInstance inst(host);
    // The saved line carries every field but maxIRE: histograms, all four
    // channels, NTSC, 601, 0-255, gamma corrected, grid, "to black".
    EXPECT_EQ(inst.scriptLine(), "Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)");
    EXPECT_EQ(inst.settings().maxIRE, 110);
}

TEST(Lifecycle, PassthruRunsTheVideoViewWhateverTheMode) {
    TestHost host;
    const Image src(4, 3, 0xAB123456);
    for (int mode : {0, 1, 3, 4, 7, -2}) {
        SCOPED_TRACE(mode);
        TestInstance inst(host);
        ConfigArgs a = defaultArgs();
        a[0] = mode;
        a[1] = 1;
        const Image out = inst.render(a, src);
        ASSERT_EQ(out.w, 4);
        ASSERT_EQ(out.h, 3);
        for (uint32_t p : out.px) EXPECT_EQ(p, 0x00123456u);
    }
}

TEST(Lifecycle, UnknownModeRendersNothing) {
    TestHost host;
    for (int mode : {5, 7, -1, INT32_MIN}) {
        SCOPED_TRACE(mode);
        TestInstance inst(host);
        ConfigArgs a = defaultArgs();
        a[0] = mode;
        inst.config(a);
        inst.setSource(Image(6, 2, 0x00FFFFFF), 1);
        EXPECT_EQ(inst.param(), 1);
        EXPECT_EQ(inst.dst().w, 6);
        EXPECT_EQ(inst.dst().h, 2);
        EXPECT_EQ(inst.run(), 0);
        for (uint32_t p : inst.output().px) EXPECT_EQ(p, 0x5A5A5A5Au) << "the host's buffer stays as it was";
    }
}

TEST(Lifecycle, RunAfterEndProcStillWorks) {
    TestHost host;
    TestInstance inst(host);
    inst.config(defaultArgs(DisplayMode::Video));
    inst.setSource(Image(2, 2, 0x00808080));
    inst.param();
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(inst.start(), 0);
        EXPECT_EQ(inst.run(), 0);
        EXPECT_EQ(inst.end(), 0);
        EXPECT_NE(inst.output().at(0, 0), 0x5A5A5A5Au);
    }
}

TEST(Lifecycle, InstancesDoNotShareState) {
    TestHost host;
    TestInstance a(host), b(host);
    ConfigArgs red = defaultArgs(DisplayMode::Video);
    red[7] = 0;   // luma off
    red[9] = 0;   // green off
    red[10] = 0;  // blue off
    a.config(red);
    b.config(defaultArgs(DisplayMode::Video));
    const Image src(3, 3, 0x00FF8040);
    a.setSource(src);
    b.setSource(src);
    a.param();
    b.param();
    a.run();
    b.run();
    EXPECT_EQ(a.output().at(1, 1), 0x00FF0000u);
    EXPECT_NE(b.output().at(1, 1), 0x00FF0000u);
    EXPECT_EQ(b.settings().red, 1);
    EXPECT_EQ(b.settings().luma, 1);
}

TEST(Lifecycle, InitFailsCleanlyWhenTheHostRefusesTheFilter) {
    static bool removed = false;
    sdk::FilterFunctions ff{};
    ff.addFilter = [](sdk::FilterModule*, sdk::FilterDefinition*, int) -> sdk::FilterDefinition* {
        return nullptr;
    };
    ff.removeFilter = [](sdk::FilterDefinition*) { removed = true; };
    int version = -7, compat = -9;
    const ModuleEntryPoints m = linkedModule();
    EXPECT_EQ(m.init(nullptr, &ff, version, compat), 1);
    EXPECT_EQ(version, -7) << "out values untouched on failure";
    EXPECT_EQ(compat, -9);
    m.deinit(nullptr, &ff);
    EXPECT_FALSE(removed) << "nothing registered, nothing to give back";
}
