#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/script_command.h"
#include "support/test_host.h"

TEST(ScriptCommand, DefaultsSaveTheKnownLineAndLabel) {
    TestHost host;
    TestInstance inst(host);
    EXPECT_EQ(inst.scriptLine(), "Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)");
    EXPECT_EQ(inst.label(), " (Histograms < Luma Red Green Blue>)");
}

TEST(ScriptCommand, LinesSetTheFieldsAndTheLabel) {
    struct Case {
        ConfigArgs args;
        const char* label;
    };
    const Case cases[] = {
        {{3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, " (Wave Form Monitor <Luma >)"},
        {{2, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1}, " (Video <Red Blue>)"},
        {{2, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1}, " (Video <Luma>)"},
        {{0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1}, " (Histograms < >)"},
        {{1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, " (Hot Pixel < IRE 110 Change intensity>)"},
        {{1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 7, 1}, " (Hot Pixel < IRE 110 Change saturation>)"},
        {{1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}, " (Hot Pixel < IRE 110 Change to black>)"},
        {{3, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}, " (Wave Form Monitor <Luma Red Green Blue>)"},
        {{4, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}, " (Passthru)"},
        {{0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}, " (Passthru)"},
    };
    TestHost host;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TestInstance inst(host);
        inst.config(c.args);
        EXPECT_EQ(inst.label(), c.label);
        EXPECT_LE(std::strlen(c.label) + 1, kLabelMax);
    }
}

TEST(ScriptCommand, WaveformLumaOnlyLineSetsEveryField) {
    TestHost host;
    TestInstance inst(host);
    inst.config({3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    const ScopeSettings& s = inst.settings();
    EXPECT_EQ(s.mode, 3);
    EXPECT_EQ(s.ntsc, 0);    // PAL
    EXPECT_EQ(s.stdDef, 0);  // 709
    EXPECT_EQ(s.rng255, 0);  // 16-235
    EXPECT_EQ(s.gamma, 0);
    EXPECT_EQ(s.wfmGrid, 1);
    EXPECT_EQ(s.luma, 1);
    EXPECT_EQ(s.red + s.green + s.blue, 0);
}

TEST(ScriptCommand, VectorscopeAndUnknownModesLeaveTheLabelBufferAlone) {
    TestHost host;
    for (int mode : {4, 5, -1}) {
        SCOPED_TRACE(mode);
        TestInstance inst(host);
        ConfigArgs a = defaultArgs();
        a[0] = mode;
        inst.config(a);
        EXPECT_EQ(inst.label(), std::string(255, TestInstance::kUntouchedLabelByte));
    }
}

TEST(ScriptCommand, FlagsStoreOneForAnyNonZeroAndRoundTrip) {
    TestHost host;
    TestInstance inst(host);
    inst.settings().maxIRE = 105;
    inst.config({INT32_MIN, 5, -1, 0, 2, 0, 9, 0, -5, 0, 1, INT32_MIN, 0});
    const std::string line = inst.scriptLine();
    EXPECT_EQ(line, "Config(-2147483648, 1, 1, 0, 1, 0, 1, 0, 1, 0, 1, -2147483648, 0)");
    EXPECT_EQ(line.size() + 1, kScriptLineMax) << "the longest possible line";

    // Replaying the saved line restores all thirteen fields and leaves maxIRE.
    TestInstance copy(host);
    copy.settings().maxIRE = 120;
    copy.config({INT32_MIN, 1, 1, 0, 1, 0, 1, 0, 1, 0, 1, INT32_MIN, 0});
    EXPECT_EQ(std::memcmp(&copy.settings(), &inst.settings(), offsetof(ScopeSettings, maxIRE)), 0);
    EXPECT_EQ(copy.settings().maxIRE, 120);
    EXPECT_EQ(inst.settings().maxIRE, 105);
}

TEST(ScriptCommand, ShortBuffersStayTerminated) {
    TestHost host;
    TestInstance inst(host);
    for (int size : {1, 2, 10, 45, 46}) {
        SCOPED_TRACE(size);
        const std::string line = inst.scriptLine(size);
        EXPECT_EQ(line.size(), static_cast<size_t>(std::min(size - 1, 45)));
    }
}

// The arguments made from settings give those settings back, with the
// arguments changed one by one: each flag turned over, the display and the
// hot pixel action at their extremes.
TEST(ScriptCommand, SettingsAsArgumentsRoundTrip) {
    ScopeSettings s = kDefaultSettings;
    for (int32_t changed = 0; changed <= kConfigArgCount; ++changed) {
        char line[kScriptLineMax];
        formatScriptLine(s, line, sizeof line);
        SCOPED_TRACE(line);
        int raw[kConfigArgCount];
        settingsAsConfigArgs(s, raw);
        ScopeSettings back = kDefaultSettings;
        applyConfigArgs(back, raw);
        char backLine[kScriptLineMax];
        formatScriptLine(back, backLine, sizeof backLine);
        EXPECT_STREQ(backLine, line);
        if (changed == kConfigArgCount) break;
        raw[changed] = changed == kArgMode || changed == kArgHotFix ? INT32_MIN : !raw[changed];
        applyConfigArgs(s, raw);
    }
}
