// The registry-export file behind the store where there is no registry: its
// format, where it lives, and that no failure ever costs the old file.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include "settings/settings_store.h"
#include "settings/store_file.h"
#include "support/test_host.h"
#include "support/text_encoding.h"

namespace fs = std::filesystem;

namespace {

constexpr char kKey[] = "Software\\VirtualDub\\Kivrel";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string read(const char* name) { return readRegistryText(kKey, name).text; }

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF", kUtf16Bom[] = "\xFF\xFE";

// Sets or unsets an environment variable for the life of a test.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        assign(value);
    }
    ~EnvVar() { assign(old_ ? old_->c_str() : nullptr); }
    void assign(const char* value) {
        if (value != nullptr)
            ::setenv(name_, value, 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Runs `body` in a child process and returns its exit status. With
// `unprivileged`, root first becomes nobody, for whom permission bits bind.
int inChild(bool unprivileged, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class FileStore : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "kivrel-file-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        fs::permissions(folder_, fs::perms(0755));  // open to the unprivileged children
        useFile(folder_ / "registry.reg");
    }
    void TearDown() override {
        for (const auto& entry : fs::recursive_directory_iterator(folder_))
            if (entry.is_directory() && !entry.is_symlink())
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(folder_);
    }
    void useFile(const fs::path& path) {
        file_ = path;
        store_.assign(path.c_str());
    }
    // Names in the folder of the store file, to see what a write left.
    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(file_.parent_path()))
            names.push_back(entry.path().filename());
        return names;
    }

    // A file's text in the encoding under test: as it is, or as the
    // registry editor exports it (UTF-16LE after its mark, which stands in
    // for a UTF-8 one).
    std::string encoded(const std::string& text) const {
        if (!utf16_) return text;
        const bool marked = text.rfind(kUtf8Bom, 0) == 0;
        return kUtf16Bom + convertText(text.substr(marked ? 3 : 0), "UTF-8", "UTF-16LE");
    }
    void put(const std::string& text) const { writeFile(file_, encoded(text)); }
    // The file's text in UTF-8.
    std::string text() const {
        const std::string bytes = readFile(file_);
        if (!utf16_) return bytes;
        EXPECT_EQ(bytes.substr(0, 2), kUtf16Bom) << "no longer UTF-16";
        return convertText(bytes.substr(2), "UTF-16LE", "UTF-8");
    }

    fs::path folder_, file_;
    EnvVar store_{"KIVREL_REGISTRY", nullptr};
    bool utf16_ = false;
};

// The tests below run on the file as a text editor keeps it and as the
// registry editor exports it, with one body each.
class FileStoreEncoded : public FileStore, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        FileStore::SetUp();
        utf16_ = GetParam();
    }
};
INSTANTIATE_TEST_SUITE_P(Encodings, FileStoreEncoded, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Utf16" : "Bytes";
                         });

const std::string kDefaultsFile =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\r\n"
    "\"mode\"=\"0\"\r\n\"PASSTHRU\"=\"1\"\r\n\"ACCUM\"=\"1\"\r\n\"NTSC\"=\"0\"\r\n\"GAMMA\"=\"0\"\r\n"
    "\"STDDEF\"=\"0\"\r\n\"RNG255\"=\"0\"\r\n\"LUMA\"=\"0\"\r\n\"RED\"=\"0\"\r\n\"GREEN\"=\"0\"\r\n"
    "\"BLUE\"=\"0\"\r\n\"WFMGRID\"=\"0\"\r\n\"hotFix\"=\"0\"\r\n\"maxIRE\"=\"110\"\r\n";

}  // namespace

TEST_F(FileStore, ANewFileIsARegistryExportInSaveOrder) {
    saveSettings(kDefaultSettings);
    EXPECT_EQ(readFile(file_), kDefaultsFile);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"registry.reg"}) << "a temporary file left behind";
}

TEST_P(FileStoreEncoded, QuotesAndBackslashesAreEscapedAndRoundTrip) {
    put("");
    const std::string awkward = "a\"b\\c\\\"";
    writeRegistryText(kKey, "we\"ird\\", awkward.c_str());
    EXPECT_NE(text().find("\r\n\"we\\\"ird\\\\\"=\"a\\\"b\\\\c\\\\\\\"\"\r\n"), std::string::npos) << text();
    EXPECT_EQ(read("we\"ird\\"), awkward);

    // The length limit counts characters, not the escaped bytes in the file.
    const std::string backslashes(kRegistryTextLongest, '\\');
    writeRegistryText(kKey, "long", backslashes.c_str());
    EXPECT_EQ(read("long"), backslashes);
    writeRegistryText(kKey, "long", (backslashes + "\\").c_str());
    EXPECT_EQ(read("long"), "-1");
}

TEST_P(FileStoreEncoded, ReadsEitherLineEndAByteOrderMarkAndAnyCase) {
    const std::string body[] = {"Windows Registry Editor Version 5.00", "",
                                "[hkey_current_user\\SOFTWARE\\virtualdub\\KIVREL]  ", "\"MODE\"=\"3\"",
                                "\"maxire\"=\"105\"\t"};
    for (const char* bom : {"", "\xEF\xBB\xBF"})
        for (const char* eol : {"\n", "\r\n"}) {
            SCOPED_TRACE(std::string(*bom ? "BOM, " : "") + (eol[0] == '\r' ? "CRLF" : "LF"));
            std::string text = bom;
            for (const std::string& line : body) text += line + eol;
            put(text.substr(0, text.size() - std::strlen(eol)));  // the last line unended
            const ScopeSettings s = TestInstance(TestHost()).settings();
            EXPECT_EQ(s.mode, 3);
            EXPECT_EQ(s.maxIRE, 105);
            EXPECT_EQ(readFile(file_), encoded(text.substr(0, text.size() - std::strlen(eol))))
                << "reading changed it";
        }
}

TEST_P(FileStoreEncoded, MalformedLinesAreSkippedAndTheLastEntryWins) {
    put("Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\n"
        "\"mode\"=\"1\"\n\"mode\"=\"2\n\"mode\"=3\nmode=\"3\"\n\"mode\"=\"\\q\"\n\"mode\"=\"4\" junk\n"
        "\"mode\"=dword:00000004\n \"mode\"=\"4\"\n\"mode\" = \"4\"\n"
        "\"hotFix\"=\"2\"\n\"hotFix\"=\"1\"\n"
        "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel\\Sub]\n\"maxIRE\"=\"7\"\n"
        "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\n\"maxIRE\"=\"100\"\n");
    EXPECT_EQ(read("mode"), "1");
    EXPECT_EQ(read("hotFix"), "1");
    EXPECT_EQ(read("maxIRE"), "100");

    // A write leaves one entry: the first, replaced in place.
    writeRegistryText(kKey, "hotFix", "0");
    writeRegistryText(kKey, "maxIRE", "120");
    EXPECT_EQ(
        readFile(file_),
        encoded(
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\n"
            "\"mode\"=\"1\"\n\"mode\"=\"2\n\"mode\"=3\nmode=\"3\"\n\"mode\"=\"\\q\"\n\"mode\"=\"4\" junk\n"
            "\"mode\"=dword:00000004\n \"mode\"=\"4\"\n\"mode\" = \"4\"\n"
            "\"hotFix\"=\"0\"\n"
            "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel\\Sub]\n\"maxIRE\"=\"7\"\n"
            "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\n\"maxIRE\"=\"120\"\n"));
}

TEST_P(FileStoreEncoded, OtherKeysValuesAndCommentsAreKeptAsTheyAre) {
    const std::string before =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; exported by hand\r\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
        "\"mode\"=\"9\"\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\r\n"
        "\"Extra\"=\"keep \\\"me\\\"\"\r\n"
        "\"Mode\"=\"3\"\r\n"
        "\"maxire\"=hex:31,\\\r\n"
        "  30,30,00\r\n"
        "\"bin\"=hex:00,01,\\\r\n"
        "  02,03\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel\\Sub]\r\n"
        "\"mode\"=\"7\"";
    put(before);
    EXPECT_EQ(read("mode"), "3");
    EXPECT_EQ(read("maxIRE"), "-1") << "only string values are read";

    saveSettings(kDefaultSettings);
    EXPECT_EQ(
        readFile(file_),
        encoded(
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
            "\r\n"
            "; exported by hand\r\n"
            "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
            "\"mode\"=\"9\"\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\r\n"
            "\"Extra\"=\"keep \\\"me\\\"\"\r\n"
            "\"Mode\"=\"0\"\r\n"
            "\"maxire\"=\"110\"\r\n"
            "\"bin\"=hex:00,01,\\\r\n"
            "  02,03\r\n"
            "\"PASSTHRU\"=\"1\"\r\n\"ACCUM\"=\"1\"\r\n\"NTSC\"=\"0\"\r\n\"GAMMA\"=\"0\"\r\n"
            "\"STDDEF\"=\"0\"\r\n\"RNG255\"=\"0\"\r\n\"LUMA\"=\"0\"\r\n\"RED\"=\"0\"\r\n\"GREEN\"=\"0\"\r\n"
            "\"BLUE\"=\"0\"\r\n\"WFMGRID\"=\"0\"\r\n\"hotFix\"=\"0\"\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel\\Sub]\r\n"
            "\"mode\"=\"7\""));

    // A file without the key gets it appended, after a blank line.
    put("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"a\"=\"b\"");
    writeRegistryText(kKey, "mode", "2");
    EXPECT_EQ(
        readFile(file_),
        encoded(
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"a\"=\"b\"\n\n"
            "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\n\"mode\"=\"2\"\n"));
}

TEST_F(FileStore, TheFileIsFoundByTheEnvironment) {
    const std::string own = folder_ / "own.reg", config = folder_ / "config", home = folder_ / "home";
    struct Case {
        const char *kivrelRegistry, *xdgConfigHome, *home;
        std::string expected;
    };
    const Case cases[] = {
        {own.c_str(), config.c_str(), home.c_str(), own},
        {"", config.c_str(), home.c_str(), config + "/kivrel/registry.reg"},
        {nullptr, config.c_str(), nullptr, config + "/kivrel/registry.reg"},
        {nullptr, "relative/config", home.c_str(), home + "/.config/kivrel/registry.reg"},
        {nullptr, "", home.c_str(), home + "/.config/kivrel/registry.reg"},
        {nullptr, nullptr, "", ""},
        {nullptr, nullptr, nullptr, ""},
    };
    EnvVar xdg("XDG_CONFIG_HOME", nullptr), homeVar("HOME", nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE("expected '" + c.expected + "'");
        store_.assign(c.kivrelRegistry);
        xdg.assign(c.xdgConfigHome);
        homeVar.assign(c.home);
        EXPECT_EQ(settingsStorePath().text, c.expected);
        writeRegistryText(kKey, "mode", "4");
        EXPECT_EQ(read("mode"), c.expected.empty() ? "-1" : "4");
        if (!c.expected.empty()) EXPECT_TRUE(fs::remove(c.expected)) << "not written where expected";
    }
}

TEST_F(FileStore, ReadingCreatesNoFolderAndWritingCreatesThem) {
    useFile(folder_ / "a" / "b" / "registry.reg");
    const ScopeSettings s = TestInstance(TestHost()).settings();
    EXPECT_EQ(s.maxIRE, kDefaultSettings.maxIRE);
    EXPECT_FALSE(fs::exists(folder_ / "a"));

    writeRegistryText(kKey, "mode", "2");
    EXPECT_EQ(read("mode"), "2");
    EXPECT_EQ(fs::status(folder_ / "a").permissions(), fs::perms::owner_all) << "settings are private";
}

TEST_F(FileStore, ALinkToTheFileStaysALink) {
    writeFile(folder_ / "real.reg", kDefaultsFile);
    fs::create_symlink("real.reg", folder_ / "registry.reg");
    writeRegistryText(kKey, "mode", "2");
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(read("mode"), "2");
    EXPECT_EQ(readFile(folder_ / "real.reg").size(), kDefaultsFile.size());
}

// Every way a write can fail leaves the old file byte for byte, and no
// temporary file beside it.
TEST_P(FileStoreEncoded, AFolderThatCannotTakeTheTemporaryFileKeepsTheOldFile) {
    useFile(folder_ / "locked" / "registry.reg");
    fs::create_directory(folder_ / "locked");
    put(kDefaultsFile);
    fs::permissions(file_, fs::perms(0644));
    fs::permissions(folder_ / "locked", fs::perms(0555));
    const int status = inChild(true, [&] {
        // The test proves nothing if this process could write there after all.
        if (std::ofstream(folder_ / "locked" / "probe")) return 98;
        writeRegistryText(kKey, "mode", "4");
        return read("mode") == "0" ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(file_), encoded(kDefaultsFile));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"registry.reg"});

    // A path through a regular file: no folder can be made, nothing changes.
    writeFile(folder_ / "plain", "plain");
    useFile(folder_ / "plain" / "registry.reg");
    writeRegistryText(kKey, "mode", "4");
    EXPECT_EQ(read("mode"), "-1");
    EXPECT_EQ(readFile(folder_ / "plain"), "plain");
}

TEST_P(FileStoreEncoded, AnUnreadableOldFileIsNeverReplaced) {
    put(kDefaultsFile);
    fs::permissions(file_, fs::perms::none);
    fs::permissions(folder_, fs::perms(0777));  // the folder would take a new file
    const int status = inChild(true, [&] {
        if (std::ifstream(file_)) return 98;
        if (settingsStoreProblem() != EACCES) return 2;
        if (writeRegistryText(kKey, "mode", "4") || lastStoreWriteProblem() != EACCES) return 3;
        return read("mode") == "-1" ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    fs::permissions(file_, fs::perms(0644));
    EXPECT_EQ(readFile(file_), encoded(kDefaultsFile));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"registry.reg"});
}

TEST_P(FileStoreEncoded, AWriteThatFailsPartWayKeepsTheOldFile) {
    // Bigger than the child may write, so the new file fails after 4 KiB.
    std::string before = kDefaultsFile + "\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n";
    for (int i = 0; before.size() < 3 * 4096; ++i)
        before += "\"v" + std::to_string(i) + "\"=\"some text\"\r\n";
    put(before);
    const int status = inChild(false, [&] {
        const rlimit limit{4096, 4096};
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of killing
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 98;
        writeRegistryText(kKey, "mode", "4");
        return read("mode") == "0" ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(file_), encoded(before));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"registry.reg"});

    // Without the limit the same write goes through and keeps the rest.
    writeRegistryText(kKey, "mode", "4");
    EXPECT_EQ(read("mode"), "4");
    EXPECT_EQ(readFile(file_).size(), encoded(before).size());
}

TEST_F(FileStore, AUtf16FileKeepsEveryCharacterThroughARewrite) {
    utf16_ = true;
    // Beyond ASCII: two-byte, three-byte and four-byte UTF-8 (a surrogate
    // pair in UTF-16), and a NUL inside a comment.
    const std::string comment = std::string("; caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x98\x80 a\0b\r\n", 23);
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n" + comment +
                             "[HKEY_CURRENT_USER\\Software\\\xE6\x97\xA5\xE6\x9C\xAC]\r\n"
                             "\"\xF0\x9D\x84\x9E\"=\"\xC3\xBC\"\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\r\n";
    put(head + "\"mode\"=\"3\"\r\n\"Title\"=\"\xE2\x82\xAC\xF0\x9F\x8E\xA5\"\r\n");
    EXPECT_EQ(read("mode"), "3");
    EXPECT_EQ(read("Title"), "\xE2\x82\xAC\xF0\x9F\x8E\xA5");

    EXPECT_TRUE(writeRegistryText(kKey, "mode", "2"));
    EXPECT_TRUE(writeRegistryText(kKey, "note", "\xC3\xA9\xF0\x9F\x98\x80"));
    EXPECT_EQ(readFile(file_),
              encoded(head + "\"mode\"=\"2\"\r\n\"Title\"=\"\xE2\x82\xAC\xF0\x9F\x8E\xA5\"\r\n"
                             "\"note\"=\"\xC3\xA9\xF0\x9F\x98\x80\"\r\n"));
    EXPECT_EQ(read("note"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"registry.reg"});

    // A value UTF-16 cannot hold is refused rather than written broken.
    const std::string kept = readFile(file_);
    EXPECT_FALSE(writeRegistryText(kKey, "note", "\xFF"));
    EXPECT_EQ(lastStoreWriteProblem(), kStoreNotUtf8);
    EXPECT_EQ(readFile(file_), kept);
}

TEST_F(FileStore, MalformedUtf16IsUnreadableAndNeverReplaced) {
    utf16_ = true;
    const std::string good = encoded(kDefaultsFile);
    const std::string bad[] = {
        good + "A",                                 // an odd byte
        good + std::string("\x3D\xD8", 2),          // a high surrogate at the end
        good + std::string("\x3D\xD8\x41\x00", 4),  // a high surrogate before a letter
        good.substr(0, 20) + std::string("\x00\xDE", 2) + good.substr(20),  // a lone low surrogate
    };
    for (const std::string& bytes : bad) {
        SCOPED_TRACE(testing::PrintToString(bytes.substr(bytes.size() - 6)));
        writeFile(file_, bytes);
        EXPECT_EQ(settingsStoreProblem(), kStoreBadUtf16);
        EXPECT_EQ(read("maxIRE"), "-1") << "a part of it was read";
        EXPECT_FALSE(writeRegistryText(kKey, "mode", "4"));
        EXPECT_EQ(lastStoreWriteProblem(), kStoreBadUtf16);
        EXPECT_EQ(readFile(file_), bytes);
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"registry.reg"});
    }
}
