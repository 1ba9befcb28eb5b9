// The file store from the test side: the file KIVREL_REGISTRY names, read
// and written by a parser of this file's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "settings/store_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kSection = std::string("[HKEY_CURRENT_USER\\") + rawstore::kKeyPath + "]";

std::string storeFile() {
    const char* path = std::getenv("KIVREL_REGISTRY");
    return path != nullptr ? path : "";
}

std::string quoted(const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}

// A quoted string at `pos`, unescaped; npos when there is none.
size_t unquote(const std::string& line, size_t pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return std::string::npos;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        if (line[pos] == '"') return pos + 1;
        if (line[pos] == '\\') ++pos;
        if (pos < line.size()) out += line[pos];
    }
    return std::string::npos;
}

// Points the module at an empty file in a folder of the test program's own.
class PrivateStore : public testing::Environment {
public:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kivrel-tests-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        ::setenv("KIVREL_REGISTRY", (folder_ / "registry.reg").c_str(), 1);
        // Every run finds the module of this build, not one the user's environment names.
        ::unsetenv("KIVREL_MODULE");
    }
    void TearDown() override { fs::remove_all(folder_); }

private:
    fs::path folder_;
};

[[maybe_unused]] testing::Environment* const privateStore =
    testing::AddGlobalTestEnvironment(new PrivateStore);

}  // namespace

namespace rawstore {

void clear() { fs::remove(storeFile()); }

bool keyExists() {
    std::error_code ec;
    return fs::exists(storeFile(), ec);
}

void set(const std::string& name, const std::string& text, bool) {
    auto all = values();
    all[name] = text;
    std::ofstream out(storeFile(), std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\r\n\r\n" << kSection << "\r\n";
    for (const auto& [n, t] : all) out << quoted(n) << '=' << quoted(t) << "\r\n";
}

std::map<std::string, std::string> values() {
    std::ifstream in(storeFile(), std::ios::binary);
    std::map<std::string, std::string> all;
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') inSection = line == kSection;
        std::string name, text;
        const size_t eq = inSection ? unquote(line, 0, name) : std::string::npos;
        if (eq < line.size() && line[eq] == '=' && unquote(line, eq + 1, text) == line.size())
            all[name] = text;
    }
    return all;
}

}  // namespace rawstore
