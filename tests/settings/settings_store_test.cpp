// The settings store's rules, one body for both stores: the registry in the
// Windows build (under Wine, whose registry is real), the registry-export
// file everywhere else. Instances are created through the module's exports.
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <string>

#include "settings/settings_store.h"
#include "settings/store_fixture.h"
#include "support/test_host.h"

namespace {

class SettingsStore : public testing::Test {
protected:
    void SetUp() override { rawstore::clear(); }
    void TearDown() override { rawstore::clear(); }

    // A new instance's settings, as its initProc found them in the store.
    ScopeSettings loaded() { return TestInstance(host_).settings(); }

    TestHost host_;
};

// The flags by value name, and whether only an exact "0" turns them on
// (the two that default to off) rather than anything up to 0.
struct Flag {
    const char* name;
    uint8_t ScopeSettings::*field;
    bool onlyZeroIsOn;
};
const Flag kFlags[] = {
    {"PASSTHRU", &ScopeSettings::passthru, true}, {"ACCUM", &ScopeSettings::accum, true},
    {"NTSC", &ScopeSettings::ntsc, false},        {"GAMMA", &ScopeSettings::gamma, false},
    {"STDDEF", &ScopeSettings::stdDef, false},    {"RNG255", &ScopeSettings::rng255, false},
    {"LUMA", &ScopeSettings::luma, false},        {"RED", &ScopeSettings::red, false},
    {"GREEN", &ScopeSettings::green, false},      {"BLUE", &ScopeSettings::blue, false},
    {"WFMGRID", &ScopeSettings::wfmGrid, false},
};

struct Number {
    const char* name;
    int32_t ScopeSettings::*field;
};
const Number kMode{"mode", &ScopeSettings::mode};
const Number kHotFix{"hotFix", &ScopeSettings::hotFix};
const Number kMaxIre{"maxIRE", &ScopeSettings::maxIRE};

}  // namespace

TEST_F(SettingsStore, NothingStoredGivesTheDefaultsAndCreatesNothing) {
    EXPECT_EQ(describe(loaded()), describe(kDefaultSettings));
    EXPECT_FALSE(rawstore::keyExists()) << "reading created the key";

    rawstore::set("unrelated", "1");  // a key without any of the fourteen
    EXPECT_EQ(describe(loaded()), describe(kDefaultSettings));
    EXPECT_EQ(rawstore::values().size(), 1u);
}

TEST_F(SettingsStore, SavedDefaultsAreTheFourteenTextsAndLoadBack) {
    saveSettings(kDefaultSettings);
    const std::map<std::string, std::string> expected = {
        {"mode", "0"},   {"PASSTHRU", "1"}, {"ACCUM", "1"},  {"NTSC", "0"},     {"GAMMA", "0"},
        {"STDDEF", "0"}, {"RNG255", "0"},   {"LUMA", "0"},   {"RED", "0"},      {"GREEN", "0"},
        {"BLUE", "0"},   {"WFMGRID", "0"},  {"hotFix", "0"}, {"maxIRE", "110"},
    };
    EXPECT_EQ(rawstore::values(), expected);
    EXPECT_EQ(describe(loaded()), describe(kDefaultSettings));
}

TEST_F(SettingsStore, SavedSettingsAreTheNextInstancesDefaults) {
    // Case k flips the flags whose index has bit k set, so any two flags
    // differ in some case; the numbers take a new value in each.
    const int32_t ceilings[] = {kMaxIreLowest, 100, 105, kMaxIreHighest, 119};
    for (int k = 0; k < kDisplayModeCount; ++k) {
        ScopeSettings s = kDefaultSettings;
        for (size_t i = 0; i < std::size(kFlags); ++i)
            if (k == 4 || (i >> k & 1) != 0) s.*kFlags[i].field = !(s.*kFlags[i].field);
        s.mode = k;
        s.hotFix = k % kHotFixCount;
        s.maxIRE = ceilings[k];
        SCOPED_TRACE(describe(s));
        saveSettings(s);
        EXPECT_EQ(rawstore::values().size(), 14u);
        EXPECT_EQ(describe(loaded()), describe(s));
    }
}

TEST_F(SettingsStore, FlagsAreStoredInverted) {
    struct Text {
        const char* text;
        bool onUpToZero, onOnlyZero;  // read as on by the two kinds of flag
    };
    const Text texts[] = {{"0", true, true},   {"1", false, false}, {"-1", true, false},
                          {"-7", true, false}, {"5", false, false}, {"abc", true, true}};
    for (const Flag& f : kFlags)
        for (const Text& t : texts) {
            SCOPED_TRACE(std::string(f.name) + " \"" + t.text + "\"");
            rawstore::clear();
            rawstore::set(f.name, t.text);
            ScopeSettings expected = kDefaultSettings;
            expected.*f.field = (f.onlyZeroIsOn ? t.onOnlyZero : t.onUpToZero) ? 1 : 0;
            EXPECT_EQ(describe(loaded()), describe(expected));
        }
}

TEST_F(SettingsStore, NumbersOutOfRangeFallBackToTheirDefaults) {
    struct Case {
        const Number& value;
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {kMode, "4", 4},       {kMode, "3", 3},       {kMode, "5", 0},       {kMode, "-3", 0},
        {kMode, "-7", 0},      {kMode, "abc", 0},     {kHotFix, "2", 2},     {kHotFix, "1", 1},
        {kHotFix, "3", 0},     {kHotFix, "-7", 0},    {kHotFix, "5", 0},     {kHotFix, "abc", 0},
        {kMaxIre, "105", 105}, {kMaxIre, "120", 120}, {kMaxIre, "100", 100}, {kMaxIre, "5", 5},
        {kMaxIre, "0", 0},     {kMaxIre, "121", 110}, {kMaxIre, "-1", 110},  {kMaxIre, "-7", 110},
        {kMaxIre, "abc", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value.name) + " \"" + c.text + "\"");
        rawstore::clear();
        rawstore::set(c.value.name, c.text);
        ScopeSettings expected = kDefaultSettings;
        expected.*c.value.field = c.expected;
        EXPECT_EQ(describe(loaded()), describe(expected));
    }
}

// Leading white space, a sign, digits up to the first non-digit; numbers
// beyond int saturate where a plain conversion would wrap into range.
TEST_F(SettingsStore, TextReadsAsADecimalThatSaturates) {
    struct Case {
        const char* name;
        const char* text;
        const char* expected;  // the field as describe() prints it
    };
    const Case cases[] = {
        {"mode", " \t\v\f+3", "mode 3"},
        {"mode", "2 and more", "mode 2"},
        {"mode", "004", "mode 4"},
        {"mode", "0x4", "mode 0"},
        {"mode", "+-1", "mode 0"},
        {"mode", "", "mode 0"},
        {"mode", "4294967300", "mode 0"},  // 2^32 + 4
        {"mode", "99999999999", "mode 0"},
        {"maxIRE", "4294967401", "maxIRE 110"},  // 2^32 + 105
        {"maxIRE", "-4294967296", "maxIRE 110"},
        {"maxIRE", "  -0", "maxIRE 0"},
        {"ACCUM", "-4294967296", "accum 0"},  // -2^32: not 0
        {"ACCUM", "4294967296", "accum 0"},
        {"NTSC", "99999999999", "ntsc 0"},
        {"NTSC", "-99999999999", "ntsc 1"},
        {"NTSC", "2147483648", "ntsc 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " \"" + c.text + "\"");
        rawstore::clear();
        rawstore::set(c.name, c.text);
        const std::string got = describe(loaded());
        EXPECT_NE(got.find(c.expected), std::string::npos) << got;
    }
}

TEST_F(SettingsStore, ValuesLongerThan254CharactersReadAsAbsent) {
    for (bool terminated : {true, false})
        for (const char* fill : {"x", " "}) {
            for (size_t length : {size_t{253}, size_t{254}, size_t{255}, size_t{256}, size_t{5000}}) {
                // "105" at the end after blanks, or at the start before letters.
                const std::string text = *fill == ' ' ? std::string(length - 3, ' ') + "105"
                                                      : "105" + std::string(length - 3, 'x');
                SCOPED_TRACE("length " + std::to_string(length) + (terminated ? "" : " unterminated") +
                             " fill '" + fill + "'");
                rawstore::clear();
                rawstore::set("maxIRE", text, terminated);
                const bool fits = length <= 254;
                EXPECT_EQ(readRegistryText(rawstore::kKeyPath, "maxIRE").text, fits ? text : "-1");
                EXPECT_EQ(loaded().maxIRE, fits ? 105 : 110);
            }
        }
}

TEST_F(SettingsStore, TheStoreIsReadOnceWhenAnInstanceIsCreated) {
    rawstore::set("mode", "1");
    rawstore::set("maxIRE", "100");
    TestInstance first(host_);
    rawstore::set("maxIRE", "120");
    rawstore::set("hotFix", "2");
    first.config(defaultArgs(DisplayMode::HotPixel));  // a script line does not read it either
    EXPECT_EQ(first.settings().maxIRE, 100);
    EXPECT_EQ(first.label(), " (Hot Pixel < IRE 100 Change to black>)");

    TestInstance second(host_);
    EXPECT_EQ(second.label(), " (Hot Pixel < IRE 120 Change saturation>)");
    saveSettings(kDefaultSettings);
    EXPECT_EQ(second.settings().maxIRE, 120);
    EXPECT_EQ(first.settings().maxIRE, 100);
}

// maxIRE is not part of the "Config" line: it reaches the label only.
TEST_F(SettingsStore, MaxIreFromTheStoreShowsInTheLabelNotTheLine) {
    for (const char* maxIRE : {"100", "120"}) {
        SCOPED_TRACE(maxIRE);
        rawstore::set("mode", "1");
        rawstore::set("hotFix", "1");
        rawstore::set("maxIRE", maxIRE);
        TestInstance inst(host_);
        EXPECT_EQ(inst.label(), std::string(" (Hot Pixel < IRE ") + maxIRE + " Change intensity>)");
        EXPECT_EQ(inst.scriptLine(), "Config(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1)");
    }
}

TEST_F(SettingsStore, WritingReplacesOneValueAndKeepsTheOthers) {
    rawstore::set("MODE", "3");
    rawstore::set("Other", "kept");
    EXPECT_STREQ(readRegistryText(rawstore::kKeyPath, "mode").text, "3") << "names ignore case";
    writeRegistryText(rawstore::kKeyPath, "mode", "4");
    const std::map<std::string, std::string> expected = {{"MODE", "4"}, {"Other", "kept"}};
    EXPECT_EQ(rawstore::values(), expected);
    EXPECT_EQ(loaded().mode, 4);
}
