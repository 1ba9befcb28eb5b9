#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/test_host.h"

namespace {

void expectRegistration(const TestHost& host) {
    ASSERT_TRUE(host.registered());
    EXPECT_EQ(host.initResult(), 0);
    EXPECT_EQ(host.version(), 8);
    EXPECT_EQ(host.compatVersion(), 4);
    EXPECT_EQ(host.addFilterSize(), static_cast<int>(sizeof(sdk::FilterDefinition)));
    const sdk::FilterDefinition& f = host.filter();
    EXPECT_STREQ(f.name, "Kivrel [1.5]");
    EXPECT_STREQ(f.desc, "Histogrms, Hot Pixels, WFM, VectorScope");
    EXPECT_STREQ(f.maker, "Dunmarl");
    EXPECT_EQ(f.private_data, nullptr);
    EXPECT_EQ(f.inst_data_size.value, static_cast<int>(sizeof(ScopeInstance)));
    EXPECT_NE(f.initProc, nullptr);
    EXPECT_EQ(f.deinitProc, nullptr);
    EXPECT_NE(f.runProc, nullptr);
    EXPECT_NE(f.paramProc, nullptr);
    EXPECT_NE(f.configProc, nullptr);
    EXPECT_NE(f.stringProc, nullptr);
    EXPECT_NE(f.startProc, nullptr);
    EXPECT_NE(f.endProc, nullptr);
    EXPECT_NE(f.fssProc, nullptr);
    EXPECT_EQ(f.stringProc2, nullptr);
    EXPECT_EQ(f.serializeProc, nullptr);
    EXPECT_EQ(f.deserializeProc, nullptr);
    EXPECT_EQ(f.copyProc, nullptr);
    ASSERT_NE(f.script_obj, nullptr);
    EXPECT_EQ(f.script_obj->lookup, nullptr);
    EXPECT_EQ(f.script_obj->obj_list, nullptr);
    const sdk::ScriptFunctionDef* fn = f.script_obj->func_list;
    ASSERT_NE(fn, nullptr);
    EXPECT_NE(fn[0].func_ptr, nullptr);
    EXPECT_STREQ(fn[0].name, "Config");
    EXPECT_STREQ(fn[0].arg_list, "0iiiiiiiiiiiii");
    EXPECT_EQ(fn[1].func_ptr, nullptr);
    EXPECT_EQ(fn[1].name, nullptr);
    EXPECT_EQ(fn[1].arg_list, nullptr);
}

}  // namespace

TEST(Module, RegistersItsFilterRecord) {
    TestHost host;
    expectRegistration(host);
}

TEST(Module, BuiltModuleLoadsThroughItsExports) {
    LoadedModule module(KIVREL_MODULE_FILE);
    ASSERT_TRUE(module.ok()) << KIVREL_MODULE_FILE << ": " << module.error();
    TestHost host(module.entryPoints());
    expectRegistration(host);
    // A whole instance through the loaded copy (its defaults are the
    // lifecycle test's): a video frame.
    TestInstance inst(host);
    Image src(3, 2, 0x00123456);
    const Image out = inst.render(defaultArgs(DisplayMode::Video), src);
    // 16 + trunc(0.2567890625 * 18 + 0.50412890625 * 52 + 0.0979625 * 86) = 16 + 39
    EXPECT_EQ(out.at(0, 0), 0x00373737u);
}
