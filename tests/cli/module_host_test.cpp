// The plug-in host in process, with the real module file: the lifecycle,
// script lines, label, and the frames it hands over.
#include <gtest/gtest.h>

#include "module_host.h"
#include "support/image.h"

namespace {

std::unique_ptr<FilterModuleHost> loadReal() {
    std::string error;
    auto m = FilterModuleHost::load(KIVREL_MODULE_PATH, error);
    EXPECT_NE(m, nullptr) << error;
    return m;
}

void fillSource(FrameBuffer& src, const Image& img) {
    const Frame f = src.frame();
    for (int32_t y = 0; y < img.h; ++y)
        for (int32_t x = 0; x < img.w; ++x) f.canvasRow(y)[x] = img.at(x, y);
}

Image outputOf(const FrameBuffer& out) {
    Image img(out.w(), out.h());
    const ConstFrame f = out.frame();
    for (int32_t y = 0; y < img.h; ++y)
        for (int32_t x = 0; x < img.w; ++x) img.at(x, y) = f.canvasRow(y)[x];
    return img;
}

}  // namespace

TEST(ModuleHost, LabelAndScriptLineOfAFreshInstanceAndAfterConfig) {
    auto module = loadReal();
    ASSERT_NE(module, nullptr);
    EXPECT_STREQ(module->filter().name, "Kivrel [1.5]");
    EXPECT_EQ(module->moduleVersion(), 8);
    FilterInstance inst(*module);
    ASSERT_TRUE(inst.init().ok());
    EXPECT_EQ(inst.label(), "Kivrel [1.5] (Histograms < Luma Red Green Blue>)");
    EXPECT_EQ(inst.scriptLine(), "Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)");

    struct Case {
        const char* line;
        const char* label;
        const char* saved;
    };
    const Case cases[] = {
        {"Config(3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1)", "Kivrel [1.5] (Wave Form Monitor <Luma >)",
         nullptr},
        {"VirtualDub.video.filters.instance[0].Config(2, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1);",
         "Kivrel [1.5] (Video <Red Blue>)", "Config(2, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1)"},
        {"Config(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 7, 1)",
         "Kivrel [1.5] (Hot Pixel < IRE 110 Change saturation>)", nullptr},
        {"Config(4, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)", "Kivrel [1.5]",
         nullptr},  // the vectorscope has none
        {"Config(4, 5, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, -1)", "Kivrel [1.5] (Passthru)",
         "Config(4, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(inst.runScriptLine(c.line).ok());
        EXPECT_EQ(inst.label(), c.label);
        EXPECT_EQ(inst.scriptLine(), c.saved != nullptr ? c.saved : c.line);
    }
    EXPECT_EQ(inst.runScriptLine("Reset()").message(), "filter Kivrel [1.5] has no script function 'Reset'");
    EXPECT_EQ(inst.runScriptLine("Config(1, 2)").message(), "Config takes 13 integers, the line has 2");
    EXPECT_EQ(inst.runScriptLine("Config(").message(), "not a script call: 'Config('");
    EXPECT_TRUE(inst.runScriptLine("  // nothing to do").ok());
}

TEST(ModuleHost, OutputFramesHaveTheDisplaysGeometryAndPaddedPitch) {
    auto module = loadReal();
    ASSERT_NE(module, nullptr);
    struct Case {
        const char* line;
        int32_t w, h;
        ptrdiff_t modulePitch;  // before the host's own padding
    };
    // A 321-pixel-wide source: the waveform's pitch 4 * 361 is no multiple of 8.
    const Case cases[] = {
        {"Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)", 360, 570, 1440},
        {"Config(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)", 321, 7, 4 * (321 + 2)},
        {"Config(2, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)", 321, 7, 4 * (321 + 2)},
        {"Config(3, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1)", 361, 442, 1444},  // three channels
        {"Config(4, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)", 632, 632, 2528},
    };
    constexpr int32_t kPad = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        FilterInstance inst(*module);
        ASSERT_TRUE(inst.init().ok());
        ASSERT_TRUE(inst.runScriptLine(c.line).ok());
        ASSERT_TRUE(inst.prepare(321, 7, kPad).ok());
        EXPECT_EQ(inst.source().pitch(), 4 * (321 + kPad));
        EXPECT_EQ(inst.output().w(), c.w);
        EXPECT_EQ(inst.output().h(), c.h);
        EXPECT_EQ(inst.output().pitch(), c.modulePitch + 4 * kPad);
        ASSERT_TRUE(inst.start().ok());
        ASSERT_TRUE(inst.run(0).ok());  // and nothing strayed into the padding
        ASSERT_TRUE(inst.end().ok());
    }
}

TEST(ModuleHost, VideoViewThroughTheHostsFramesIsExact) {
    auto module = loadReal();
    ASSERT_NE(module, nullptr);
    Image src(5, 3);
    for (size_t i = 0; i < src.px.size(); ++i) src.px[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x0A1B2C);
    for (int32_t pad : {0, 1, 4}) {
        SCOPED_TRACE("pad " + std::to_string(pad));
        FilterInstance inst(*module);
        ASSERT_TRUE(inst.init().ok());
        ASSERT_TRUE(
            inst.runScriptLine("Config(2, 0, 0, 1, 1, 1, 1, 0, 0, 1, 1, 0, 1)").ok());  // green and blue
        ASSERT_TRUE(inst.prepare(src.w, src.h, pad).ok());
        fillSource(inst.source(), src);
        ASSERT_TRUE(inst.start().ok());
        ASSERT_TRUE(inst.run(0).ok());
        const Image out = outputOf(inst.output());
        for (size_t i = 0; i < src.px.size(); ++i) EXPECT_EQ(out.px[i], src.px[i] & 0x00FFFFu) << i;
    }
}

TEST(ModuleHost, ScriptFilesRunTheirConfigLines) {
    auto module = loadReal();
    ASSERT_NE(module, nullptr);
    const std::string path = ::testing::TempDir() + "kivrel_script_test.vcf";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(
        "VirtualDub.Open(\"clip.avi\");\n"
        "VirtualDub.video.filters.Add(\"Kivrel [1.5]\");\n"
        "VirtualDub.video.filters.instance[0].Config(0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1);\n"
        "\n"
        "VirtualDub.video.filters.instance[0].Config(3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1); // last wins\n",
        f);
    std::fclose(f);
    FilterInstance inst(*module);
    ASSERT_TRUE(inst.init().ok());
    const Status s = inst.runScriptFile(path);
    std::remove(path.c_str());
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(inst.scriptLine(), "Config(3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1)");
}

TEST(ModuleHost, RefusesModulesItCannotHost) {
    const std::string fakes = KIVREL_FAKE_MODULE_DIR;
    const std::string text = ::testing::TempDir() + "kivrel_not_a_library.so";
    FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a library", f);
    std::fclose(f);
    struct Case {
        std::string path;
        std::string message;
    };
    const Case cases[] = {
        {"nosuch.so", "module nosuch.so: No such file or directory"},
        {"/", "module /: is a directory"},
        {text, "cannot load module " + text + ": "},  // then the loader's reason
        {fakes + "/fake_no_exports.so",
         fakes +
             "/fake_no_exports.so is not a filter module: it does not export VirtualdubFilterModuleInit2"},
        {fakes + "/fake_init_fails.so",
         "module " + fakes +
             "/fake_init_fails.so failed to register its filter (VirtualdubFilterModuleInit2 returned 1)"},
        {fakes + "/fake_no_filter.so", "module " + fakes + "/fake_no_filter.so registered no filter"},
        {fakes + "/fake_too_new.so",
         "module " + fakes +
             "/fake_too_new.so is built for filter interface version 9 (compatible "
             "down to 9); this host offers versions 4 to 8"},
        {fakes + "/fake_too_old.so",
         "module " + fakes +
             "/fake_too_old.so is built for filter interface version 3 (compatible "
             "down to 2); this host offers versions 4 to 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        EXPECT_EQ(FilterModuleHost::load(c.path, error), nullptr);
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    }
    std::remove(text.c_str());
}

TEST(ModuleHost, ScriptFileProblemsNameTheFileAndLine) {
    auto module = loadReal();
    ASSERT_NE(module, nullptr);
    struct Case {
        const char* text;  // nullptr: no such file
        const char* message;
    };
    const Case cases[] = {
        {nullptr, "cannot read script @: No such file or directory"},
        {"VirtualDub.Open(\"clip.mkv\");\n", "script @ holds no Config line"},
        {"\nConfig(3, 0, 0, 1);\n", "@:2: Config takes 13 integers, the line has 4"},
        {"Config(3, 0, 0, 1, 1, 1, 1, 1, 1, 1, x, 0, 1)\n",
         "@:1: argument 11 of Config is not an integer: 'x'"},
        {"Config(3, 0, 0, 1, 1\n", "@:1: cannot read this Config line"},
    };
    const std::string path = ::testing::TempDir() + "kivrel_bad_script.vcf";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::remove(path.c_str());
        if (c.text != nullptr) {
            FILE* f = std::fopen(path.c_str(), "w");
            ASSERT_NE(f, nullptr);
            std::fputs(c.text, f);
            std::fclose(f);
        }
        FilterInstance inst(*module);
        ASSERT_TRUE(inst.init().ok());
        std::string expected = c.message;
        expected.replace(expected.find('@'), 1, path);
        EXPECT_EQ(inst.runScriptFile(path).message(), expected);
    }
    std::remove(path.c_str());
}
