// The settings store from the command line: `kivrel defaults` shows and sets
// what new instances start from, and --max-ire reaches one run only.
#include <filesystem>

#include "cli_runner.h"
#include "settings/store_fixture.h"
#include "support/image.h"

namespace {

class Defaults : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        rawstore::clear();
    }
    void TearDown() override {
        rawstore::clear();
        CliTest::TearDown();
    }
};

// Folders a one-run store left in the temporary folder.
int leftoverStores() {
    namespace fs = std::filesystem;
    int n = 0;
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
        n += e.path().filename().string().rfind("kivrel-store-", 0) == 0;
    return n;
}

}  // namespace

TEST_F(Defaults, ShownSetAndUsedByTheNextRun) {
    CliResult r = run({"defaults"});
    EXPECT_EQ(
        r.out,
        "(Histograms < Luma Red Green Blue>)\nConfig(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)\nmaxIRE 110\n");
    EXPECT_FALSE(rawstore::keyExists());  // showing them writes nothing

    const std::string hot =
        "(Hot Pixel < IRE 120 Change intensity>)\nConfig(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1)\n";
    r = run({"defaults", "-d", "hotpixel", "--change", "intensity", "--max-ire", "120"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, hot + "maxIRE 120\n");
    EXPECT_EQ(rawstore::values().at("maxIRE"), "120");
    EXPECT_EQ(run({"defaults"}).out, hot + "maxIRE 120\n");
    // A render takes what the command line does not set from the store.
    EXPECT_EQ(run({"--print-config"}).out, "Kivrel [1.5] " + hot);
    EXPECT_EQ(run({"--change", "black", "--print-config"}).out,
              "Kivrel [1.5] (Hot Pixel < IRE 120 Change to black>)\nConfig(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, "
              "0, 1)\n");

    for (const Args& wrong : {Args{"defaults", "in.png"}, Args{"defaults", "-o", "x.png"},
                              Args{"defaults", "--max-ire", "121"}}) {
        SCOPED_TRACE(wrong[1]);
        EXPECT_EQ(run(wrong).status, 2);
    }
}

TEST_F(Defaults, MaxIreForOneRunLeavesTheUsersStoreAlone) {
    // 100 % bars: some of them are legal below 120 IRE and not below 100.
    Image bars(140, 8);
    constexpr uint32_t kBars[] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00, 0xFF00FF, 0xFF0000, 0x0000FF};
    for (int32_t y = 0; y < bars.h; ++y)
        for (int32_t x = 0; x < bars.w; ++x) bars.at(x, y) = kBars[x * 7 / bars.w];
    ASSERT_TRUE(writePng(path("bars.png"), bars));
    ASSERT_EQ(run({"defaults", "--change", "saturation"}).status, 0);
    const std::string before = readFile(std::getenv("KIVREL_REGISTRY"));
    const int strays = leftoverStores();

    std::string hashes[2];
    for (int i = 0; i < 2; ++i) {
        const CliResult r =
            run({"bars.png", "-d", "hotpixel", "--max-ire", i ? "120" : "100", "-f", "md5", "-o", "-"});
        ASSERT_EQ(r.status, 0) << r.err;
        hashes[i] = r.out;
    }
    EXPECT_NE(hashes[0], hashes[1]);
    EXPECT_EQ(readFile(std::getenv("KIVREL_REGISTRY")), before);
    EXPECT_EQ(leftoverStores(), strays);
    // The user's other values came along: the stored action, the given ceiling.
    EXPECT_EQ(run({"-d", "hotpixel", "--max-ire", "100", "--print-config"}).out.substr(0, 54),
              "Kivrel [1.5] (Hot Pixel < IRE 100 Change saturation>)\n");
}
