// The plug-in host in process, with the real module file: the lifecycle,
// script lines, label, and the frames it hands over.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "pluginhost/frame_buffer.h"
#include "pluginhost/module_host.h"
#include "support/image.h"

namespace {

class ModuleHost : public ::testing::Test {
protected:
    void SetUp() override {
        Status error;
        module_ = FilterModuleHost::load(KIVREL_MODULE_PATH, error);
        ASSERT_NE(module_, nullptr) << error.message();
    }
    // An initialised instance holding the settings of `line`.
    std::unique_ptr<FilterInstance> instance(const char* line) {
        auto inst = std::make_unique<FilterInstance>(*module_);
        EXPECT_TRUE(inst->init().ok());
        EXPECT_TRUE(inst->runScriptLine(line).ok()) << line;
        return inst;
    }
    std::unique_ptr<FilterModuleHost> module_;
};

}  // namespace

TEST_F(ModuleHost, LabelAndScriptLineOfAFreshInstanceAndAfterConfig) {
    FilterInstance inst(*module_);
    ASSERT_TRUE(inst.init().ok());
    EXPECT_EQ(inst.label(), "Kivrel [1.5] (Histograms < Luma Red Green Blue>)");
    EXPECT_EQ(inst.scriptLine(), "Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)");

    struct Case {
        const char* line;
        const char* label;
        const char* saved;
    };
    const Case cases[] = {
        {"VirtualDub.video.filters.instance[0].Config(2, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1);",
         "Kivrel [1.5] (Video <Red Blue>)", "Config(2, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1)"},
        // The vectorscope writes no label text: none of the last one may stay.
        {"Config(4, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)", "Kivrel [1.5]",
         "Config(4, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)"},
        {"Config(4, 5, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, -1)", "Kivrel [1.5] (Passthru)",
         "Config(4, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(inst.runScriptLine(c.line).ok());
        EXPECT_EQ(inst.label(), c.label);
        EXPECT_EQ(inst.scriptLine(), c.saved);
    }
    EXPECT_EQ(inst.runScriptLine("Reset()").message(), "filter Kivrel [1.5] has no script function 'Reset'");
    EXPECT_EQ(inst.runScriptLine("Config(1, 2)").message(), "Config takes 13 integers, the line has 2");
    EXPECT_EQ(inst.runScriptLine("Config(").message(), "not a script call: 'Config('");
    EXPECT_TRUE(inst.runScriptLine("  // nothing to do").ok());
}

TEST_F(ModuleHost, OutputFramesHaveTheDisplaysGeometryAndPaddedPitch) {
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
        const auto inst = instance(c.line);
        ASSERT_TRUE(inst->prepare(321, 7, kPad).ok());
        EXPECT_EQ(inst->source().pitch(), 4 * (321 + kPad));
        EXPECT_EQ(inst->output().w(), c.w);
        EXPECT_EQ(inst->output().h(), c.h);
        EXPECT_EQ(inst->output().pitch(), c.modulePitch + 4 * kPad);
        ASSERT_TRUE(inst->start().ok());
        ASSERT_TRUE(inst->run(0).ok());  // and nothing strayed into the padding
        ASSERT_TRUE(inst->end().ok());
    }
}

TEST_F(ModuleHost, VideoViewThroughTheHostsFramesIsExact) {
    Image src(5, 3);
    for (size_t i = 0; i < src.px.size(); ++i) src.px[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x0A1B2C);
    for (int32_t pad : {0, 1, 4}) {
        SCOPED_TRACE("pad " + std::to_string(pad));
        const auto inst = instance("Config(2, 0, 0, 1, 1, 1, 1, 0, 0, 1, 1, 0, 1)");  // green and blue
        ASSERT_TRUE(inst->prepare(src.w, src.h, pad).ok());
        const Frame in = inst->source().frame();
        for (int32_t y = 0; y < src.h; ++y)
            for (int32_t x = 0; x < src.w; ++x) in.canvasRow(y)[x] = src.at(x, y);
        ASSERT_TRUE(inst->start().ok());
        ASSERT_TRUE(inst->run(0).ok());
        const ConstFrame out = inst->output().frame();
        for (int32_t y = 0; y < src.h; ++y)
            for (int32_t x = 0; x < src.w; ++x)
                EXPECT_EQ(out.canvasRow(y)[x], src.at(x, y) & 0x00FFFFu) << x << ", " << y;
    }
}

// A new frame, even one that reuses the memory of a scribbled one, holds
// its fill in every pixel (black is left to the memory's own zeros) and the
// sentinel in every padding word, at sizes on both sides of the large
// frames' path, empty frames among them.
TEST(FrameBuffers, ANewFrameHoldsItsFillAndSentinelWhateverMemoryItReuses) {
    constexpr int32_t kSizes[][3] = {{1, 1, 0}, {3, 2, 5}, {0, 2, 3}, {1920, 1080, 0}, {1921, 1081, 7}};
    constexpr uint32_t kScribble = 0x5A5A5A5A;
    for (const auto& size : kSizes)
        for (const uint32_t fill : {0u, 0x00123456u}) {
            const int32_t w = size[0], h = size[1];
            const ptrdiff_t pitch = kBytesPerPixel * (static_cast<ptrdiff_t>(w) + size[2]);
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " pitch " + std::to_string(pitch) +
                         " fill " + std::to_string(fill));
            {
                FrameBuffer old(w, h, pitch);
                std::fill_n(old.frame().storedRow(0), pitch / kBytesPerPixel * h, kScribble);
            }
            FrameBuffer f(w, h, pitch, fill);
            EXPECT_TRUE(f.paddingIntact());
            for (int32_t y = 0; y < h; ++y) {
                const uint32_t* row = f.frame().storedRow(y);
                ASSERT_EQ(std::count(row, row + w, fill), w) << "row " << y;
            }
        }
}
