// Script lines as editors save them, read by the plug-in host before it
// hands a "Config" call to the module.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pluginhost/script_call.h"

namespace {

using Args = std::vector<std::string>;

}  // namespace

TEST(ScriptCall, ReadsTheLinesEditorsSave) {
    ScriptCall call;
    ASSERT_EQ(
        parseScriptCall("  VirtualDub.video.filters.instance[0].Config(3, 0, -1 ,+4);  // saved\r", call),
        LineKind::Call);
    EXPECT_EQ(call.function, "Config");
    EXPECT_EQ(call.args, (Args{"3", "0", "-1", "+4"}));
    ASSERT_EQ(parseScriptCall("SetText(\"a, b // c\", 2)", call), LineKind::Call);
    EXPECT_EQ(call.args, (Args{"\"a, b // c\"", "2"}));
    ASSERT_EQ(parseScriptCall("Clear()", call), LineKind::Call);
    EXPECT_TRUE(call.args.empty());

    for (const char* blank : {"", "   ", "// a comment", "\t;"})
        EXPECT_NE(parseScriptCall(blank, call), LineKind::Call) << blank;
    EXPECT_EQ(parseScriptCall("// only", call), LineKind::Blank);
    for (const char* other : {"declare x;", "Config(1, 2", "1Config(2)", "a..Config(1)", "x[0.Config(1)",
                              "Config(\"open)", "Config 3"})
        EXPECT_EQ(parseScriptCall(other, call), LineKind::Other) << other;
}

TEST(ScriptCall, IntegersAndConfigLines) {
    for (const auto& [text, value] :
         {std::pair{"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"+7", 7}}) {
        int v = 0;
        EXPECT_TRUE(parseScriptInt(text, v)) << text;
        EXPECT_EQ(v, value);
    }
    int v = 0;
    for (const char* bad : {"2147483648", "", "+", "+-1", "1.5", "0x10", " 1", "1 "})
        EXPECT_FALSE(parseScriptInt(bad, v)) << bad;

    // What the filter writes reads back to the same thirteen values.
    const ConfigArgs args = {4, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, INT32_MIN, 1};
    const std::string line = formatConfigLine(args);
    EXPECT_EQ(line, "Config(4, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, -2147483648, 1)");
    ScriptCall call;
    ASSERT_EQ(parseScriptCall(line, call), LineKind::Call);
    ConfigArgs back{};
    ASSERT_TRUE(configArgsOf(call, back).ok());
    EXPECT_EQ(back, args);
    ASSERT_EQ(parseScriptCall("Other(1)", call), LineKind::Call);
    EXPECT_EQ(configArgsOf(call, back).message(), "expected a Config call, found Other");
}
