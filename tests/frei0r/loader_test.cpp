// The frei0r module as a host loads it: dlopen and the nine entry points,
// called in the orders no host should use but some will (update before any
// parameter, nulls, refused values, sizes from 0 to huge), and many
// instances on many threads. Run under ASan and UBSan in the sanitized build.
#include <dlfcn.h>
#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Module {
    void* handle = nullptr;
    int (*init)() = nullptr;
    void (*deinit)() = nullptr;
    void (*pluginInfo)(f0r_plugin_info_t*) = nullptr;
    void (*paramInfo)(f0r_param_info_t*, int) = nullptr;
    f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
    void (*destruct)(f0r_instance_t) = nullptr;
    void (*setParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*getParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

    template <typename F>
    void bind(F& f, const char* name) {
        f = reinterpret_cast<F>(dlsym(handle, name));
        EXPECT_NE(f, nullptr) << name << " is not exported";
    }
    Module() {
        handle = dlopen(KIVREL_FREI0R_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        bind(init, "f0r_init");
        bind(deinit, "f0r_deinit");
        bind(pluginInfo, "f0r_get_plugin_info");
        bind(paramInfo, "f0r_get_param_info");
        bind(construct, "f0r_construct");
        bind(destruct, "f0r_destruct");
        bind(setParam, "f0r_set_param_value");
        bind(getParam, "f0r_get_param_value");
        bind(update, "f0r_update");
        init();
    }
    ~Module() {
        if (handle == nullptr) return;
        deinit();
        dlclose(handle);
    }
    f0r_plugin_info_t info() const {
        f0r_plugin_info_t i{};
        pluginInfo(&i);
        return i;
    }
    int paramIndex(const char* name) const {
        for (int k = 0; k < info().num_params; ++k) {
            f0r_param_info_t p{};
            paramInfo(&p, k);
            if (std::strcmp(p.name, name) == 0) return k;
        }
        ADD_FAILURE() << "no parameter " << name;
        return -1;
    }
    void setText(f0r_instance_t inst, const char* name, const char* value) const {
        f0r_param_string s = const_cast<char*>(value);
        setParam(inst, &s, paramIndex(name));
    }
    std::string text(f0r_instance_t inst, const char* name) const {
        f0r_param_string s = nullptr;
        getParam(inst, &s, paramIndex(name));
        return s != nullptr ? s : "(null)";
    }
};

Module& module() {
    static Module m;
    return m;
}

const char* const kDisplays[] = {"histograms", "hotpixel", "video", "waveform", "vectorscope"};

// A picture with every level in it: a ramp across, colours down.
std::vector<uint32_t> card(unsigned w, unsigned h, unsigned seed = 0) {
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            const uint32_t level = (x * 255 / (w > 1 ? w - 1 : 1) + seed) & 0xFF;
            const uint32_t other = (y * 97 + seed * 31) & 0xFF;
            px[static_cast<size_t>(y) * w + x] = 0xFF000000 | level << 16 | other << 8 | (level ^ other);
        }
    return px;
}

// One frame of `display` at w x h; the output starts as a sentinel so an
// unwritten pixel shows.
std::vector<uint32_t> render(const char* display, unsigned w, unsigned h, int frames = 1) {
    const Module& m = module();
    f0r_instance_t inst = m.construct(w, h);
    EXPECT_NE(inst, nullptr) << w << "x" << h;
    if (inst == nullptr) return {};
    m.setText(inst, "display", display);
    std::vector<uint32_t> out(static_cast<size_t>(w) * h, 0x00ABCDEF);
    for (int f = 0; f < frames; ++f) {
        const std::vector<uint32_t> in = card(w, h, static_cast<unsigned>(f));
        m.update(inst, f * 40.0, in.data(), out.data());
    }
    m.destruct(inst);
    return out;
}

}  // namespace

TEST(Frei0rModule, DescribesItselfAsTheKivrelFilterOnBgra) {
    const f0r_plugin_info_t info = module().info();
    EXPECT_STREQ(info.name, "kivrel");
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    // Display first: FFmpeg's frei0r=kivrel:waveform sets parameter 0.
    f0r_param_info_t first{};
    module().paramInfo(&first, 0);
    EXPECT_STREQ(first.name, "display");
    EXPECT_EQ(first.type, F0R_PARAM_STRING);
    for (int k = 0; k < info.num_params; ++k) {
        f0r_param_info_t p{};
        module().paramInfo(&p, k);
        SCOPED_TRACE(k);
        ASSERT_NE(p.name, nullptr);
        EXPECT_TRUE(p.type == F0R_PARAM_STRING || p.type == F0R_PARAM_BOOL) << p.name;
        EXPECT_NE(p.explanation, nullptr);
    }
}

TEST(Frei0rModule, RefusesSizesItCannotServeAndSurvivesNulls) {
    const Module& m = module();
    for (auto [w, h] : {std::pair{0u, 0u},
                        {0u, 480u},
                        {640u, 0u},
                        {100000u, 2u},
                        {2u, 100000u},
                        {16384u, 16384u},
                        {std::numeric_limits<unsigned>::max(), 1u}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        EXPECT_EQ(m.construct(w, h), nullptr);
    }
    m.destruct(nullptr);
    m.update(nullptr, 0.0, nullptr, nullptr);
    double d = 1.0;
    m.setParam(nullptr, &d, 0);
    m.getParam(nullptr, &d, 0);
    m.pluginInfo(nullptr);
    m.paramInfo(nullptr, 0);
    f0r_param_info_t p{};
    for (int k : {-1, m.info().num_params, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()})
        m.paramInfo(&p, k);
    EXPECT_EQ(p.name, nullptr);

    f0r_instance_t inst = m.construct(64, 48);
    ASSERT_NE(inst, nullptr);
    std::vector<uint32_t> frame(64 * 48, 0), out(64 * 48, 0);
    m.update(inst, 0.0, nullptr, out.data());
    m.update(inst, 0.0, frame.data(), nullptr);
    for (int k : {-1, m.info().num_params, std::numeric_limits<int>::min()}) {
        m.setParam(inst, &d, k);
        m.getParam(inst, &d, k);
    }
    m.setParam(inst, nullptr, 0);
    m.getParam(inst, nullptr, 0);
    f0r_param_string nullText = nullptr;
    m.setParam(inst, &nullText, 0);
    EXPECT_EQ(m.text(inst, "display"), "histograms");  // the factory default, nothing set
    m.destruct(inst);
}

TEST(Frei0rModule, ReadsBackWhatWasSetAndKeepsItThroughRefusedValues) {
    const Module& m = module();
    f0r_instance_t inst = m.construct(32, 32);
    ASSERT_NE(inst, nullptr);
    struct Case {
        const char* name;
        const char* good;
        const char* bad;
    };
    std::string unterminated(300, 'w');  // longer than any value: refused unread past its room
    const Case cases[] = {
        {"display", "waveform", "waveforms"},
        {"channels", "luma+blue", "luma+purple"},
        {"channels", "red/green", ""},
        {"system", "pal", "secam"},
        {"matrix", "709", "2020"},
        {"range", "16-235", "0-256"},
        {"change", "saturation", "white"},
        {"max-ire", "120", "121"},
        {"max-ire", "0", "-1"},
        {"max-ire", "100", "1e2"},
        {"config", "3 0 0 1 1 1 1 1 0 0 1 0 0", "3 0 0 1"},
        {"config", "4/1/0/1/1/1/1/1/1/1/1/2/1", "4,1,0,1,1,1,1,1,1,1,1,2,1,7"},
        {"display", "vectorscope", unterminated.c_str()},
        {"display", "video", "\xff\xfe garbage \x01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + c.good);
        m.setText(inst, c.name, c.good);
        EXPECT_EQ(m.text(inst, c.name), c.good);
        m.setText(inst, c.name, c.bad);
        // An empty text unsets; anything else refused leaves the value.
        if (c.bad[0] != '\0') {
            EXPECT_EQ(m.text(inst, c.name), c.good);
        }
    }
    const int gamma = m.paramIndex("gamma");
    for (auto [set, on] : {std::pair{0.0, 0.0},
                           {1.0, 1.0},
                           {0.49, 0.0},
                           {0.5, 1.0},
                           {-1e300, 0.0},
                           {1e300, 1.0},
                           {std::nan(""), 0.0},
                           {INFINITY, 1.0}}) {
        SCOPED_TRACE(set);
        m.setParam(inst, &set, gamma);
        double got = -1.0;
        m.getParam(inst, &got, gamma);
        EXPECT_EQ(got, on);
    }
    std::vector<uint32_t> in = card(32, 32), out(32 * 32);
    m.update(inst, 0.0, in.data(), out.data());
    m.destruct(inst);
}

TEST(Frei0rModule, EveryDisplayFillsEveryFrameSizeWithOpaquePixels) {
    const std::pair<unsigned, unsigned> sizes[] = {{1, 1},    {2, 3},     {7, 1},     {1, 600},   {40, 9},
                                                   {41, 300}, {333, 251}, {632, 632}, {360, 570}, {721, 577}};
    for (const char* display : kDisplays)
        for (auto [w, h] : sizes) {
            SCOPED_TRACE(std::string(display) + " " + std::to_string(w) + "x" + std::to_string(h));
            const std::vector<uint32_t> out = render(display, w, h, 2);
            ASSERT_EQ(out.size(), static_cast<size_t>(w) * h);
            size_t transparent = 0;
            for (uint32_t p : out) transparent += (p >> 24) != 0xFF;
            EXPECT_EQ(transparent, 0u) << "pixels not written or not opaque";
        }
}

// A display at a whole scale of 2: every output pixel in a 2x2 block equal.
TEST(Frei0rModule, AnEnlargedDisplayIsWholePixelBlocks) {
    for (const char* display : {"vectorscope", "histograms"}) {
        SCOPED_TRACE(display);
        const unsigned w = 1300, h = 1270;
        const std::vector<uint32_t> out = render(display, w, h);
        ASSERT_FALSE(out.empty());
        // Centred: the vectorscope 1264 square from (18, 3), the histograms 720x1140 from (290, 65).
        const unsigned x0 = std::strcmp(display, "vectorscope") == 0 ? 18 : 290;
        const unsigned y0 = std::strcmp(display, "vectorscope") == 0 ? 3 : 65;
        size_t broken = 0, lit = 0;
        for (unsigned y = y0; y + 1 < h - y0; y += 2)
            for (unsigned x = x0; x + 1 < w - x0; x += 2) {
                const uint32_t p = out[y * w + x];
                broken +=
                    p != out[y * w + x + 1] || p != out[(y + 1) * w + x] || p != out[(y + 1) * w + x + 1];
                lit += p != 0xFF000000;
            }
        EXPECT_EQ(broken, 0u);
        EXPECT_GT(lit, 1000u);
        EXPECT_EQ(out[0], 0xFF000000u);  // the margin is black
    }
}

// Many instances on many threads, as MLT makes one per thread: each gives
// what the same instance gives alone.
TEST(Frei0rModule, InstancesOnManyThreadsAreIndependent) {
    const unsigned w = 203, h = 151;
    std::vector<std::vector<uint32_t>> alone;
    for (const char* display : kDisplays) alone.push_back(render(display, w, h, 3));
    constexpr int kThreads = 10;
    std::vector<std::vector<uint32_t>> together(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { together[t] = render(kDisplays[t % 5], w, h, 3); });
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE(kDisplays[t % 5]);
        EXPECT_TRUE(together[t] == alone[t % 5]);
    }
}
