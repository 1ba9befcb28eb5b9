// The settings store from the command line: `kivrel defaults` shows and sets
// what new instances start from, and --max-ire reaches one run only.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "cli/support/cli_runner.h"
#include "settings/store_fixture.h"
#include "support/image.h"
#include "support/text_encoding.h"

namespace {

constexpr char kFactoryDefaults[] =
    "(Histograms < Luma Red Green Blue>)\nConfig(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)\nmaxIRE 110\n";

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
    EXPECT_EQ(r.out, kFactoryDefaults);
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

namespace {

// Points kivrel at another store for one test.
class OtherStore : public Defaults {
protected:
    void SetUp() override {
        Defaults::SetUp();
        own_ = std::getenv("KIVREL_REGISTRY");
    }
    void TearDown() override {
        ::setenv("KIVREL_REGISTRY", own_.c_str(), 1);
        Defaults::TearDown();
    }
    void use(const std::string& store) { ::setenv("KIVREL_REGISTRY", store.c_str(), 1); }
    void writeBytes(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    std::string own_;
};

}  // namespace

// regedit's export: UTF-16LE after FF FE, CRLF. It is read, and a save keeps
// it UTF-16 with everything else in it.
TEST_F(OtherStore, AStoreExportedOnWindowsIsReadAndStaysUtf16) {
    const std::string head =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\r\n\"Note\"=\"d\xC3\xA9j\xC3\xA0 "
        "\xF0\x9F\x8E\xA5\"\r\n";
    const auto utf16 = [](const std::string& text) {
        return "\xFF\xFE" + convertText(text, "UTF-8", "UTF-16LE");
    };
    writeBytes("registry.reg", utf16(head + "\"mode\"=\"3\"\r\n\"maxIRE\"=\"105\"\r\n"));
    use(path("registry.reg"));
    CliResult r = run({"defaults"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "(Wave Form Monitor <Luma Red Green Blue>)\nConfig(3, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, "
              "1)\nmaxIRE 105\n");

    r = run({"defaults", "--max-ire", "100"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        readText("registry.reg"),
        utf16(head +
              "\"mode\"=\"3\"\r\n\"maxIRE\"=\"100\"\r\n\"PASSTHRU\"=\"1\"\r\n\"ACCUM\"=\"1\"\r\n\"NTSC\"="
              "\"0\"\r\n"
              "\"GAMMA\"=\"0\"\r\n\"STDDEF\"=\"0\"\r\n\"RNG255\"=\"0\"\r\n\"LUMA\"=\"0\"\r\n\"RED\"=\"0\"\r\n"
              "\"GREEN\"=\"0\"\r\n\"BLUE\"=\"0\"\r\n\"WFMGRID\"=\"0\"\r\n\"hotFix\"=\"0\"\r\n"));
}

// A store kivrel cannot read: every command says so in one line and goes on
// with the factory defaults; a save says why it failed and changes nothing.
TEST_F(OtherStore, AnUnreadableStoreIsNamedWithItsReason) {
    Image grey(4, 2);
    ASSERT_TRUE(writePng(path("grey.png"), grey));
    std::filesystem::create_directory(path("folder.reg"));
    writeBytes("broken.reg",
               "\xFF\xFE" + convertText("[HKEY_CURRENT_USER\\Software]\r\n", "UTF-8", "UTF-16LE") + "A");
    writeText("plain", "plain");
    struct Case {
        const char* store;
        const char* readProblem;  // nullptr: readable (or not there)
        const char* saveProblem;
    };
    const Case cases[] = {
        {"folder.reg", "Is a directory", "Is a directory"},
        {"broken.reg", "marked as UTF-16 but not valid UTF-16", "marked as UTF-16 but not valid UTF-16"},
        {"plain/registry.reg", nullptr, "Not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.store);
        use(path(c.store));
        const std::string warning = c.readProblem == nullptr ? ""
                                                             : "kivrel: the settings store " + path(c.store) +
                                                                   " could not be read (" + c.readProblem +
                                                                   "); using the factory defaults\n";
        const std::string before =
            c.readProblem != nullptr && std::string(c.store) == "broken.reg" ? readText(c.store) : "";
        CliResult r = run({"defaults"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kFactoryDefaults);
        EXPECT_EQ(r.err, warning);

        for (const Args& render :
             {Args{"--print-config"}, Args{"grey.png", "-d", "video,waveform", "-f", "md5", "-o", "-"}}) {
            r = run(render);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err.substr(0, warning.size()), warning);
            EXPECT_EQ(r.err.find("settings store", warning.size()), std::string::npos)
                << "said twice: " << r.err;
        }
        // The report judges by the same settings, and says so just as once.
        r = run({"report", "grey.png", "grey.png"});
        EXPECT_NE(r.status, 1) << r.err;
        EXPECT_EQ(r.err.substr(0, warning.size()), warning);
        EXPECT_EQ(r.err.find("settings store", warning.size()), std::string::npos) << "said twice: " << r.err;

        r = run({"defaults", "--max-ire", "100"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, warning + "kivrel: could not save the defaults to " + path(c.store) + " (" +
                             c.saveProblem + ")\n");
        if (!before.empty()) {
            EXPECT_EQ(readText(c.store), before);
        }
    }
    EXPECT_EQ(readText("plain"), "plain");
    EXPECT_TRUE(std::filesystem::is_empty(path("folder.reg")));
}
