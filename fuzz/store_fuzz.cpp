// The registry-export file of any bytes (long lines, NUL bytes, broken
// escapes, stray sections) as the settings store: every value reads as some
// text that ends inside its buffer, and a value written reads back while the
// rest of the file's values stay as they read before. Each input is tried
// twice: as the file's bytes, and as the registry editor's UTF-16LE export
// of the same text (each byte one code unit), which must stay UTF-16 when it
// is rewritten; a file marked as UTF-16 that is not is never replaced.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "settings/settings_store.h"
#include "settings/store_file.h"

namespace {

constexpr const char* kNames[] = {"mode", "PASSTHRU", "ACCUM", "NTSC",    "GAMMA",  "STDDEF", "LUMA",
                                  "RED",  "GREEN",    "BLUE",  "WFMGRID", "RNG255", "maxIRE", "hotFix"};

// One private store file for the whole run, named before the first input.
const std::string& storeFile() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/kivrel-fuzz-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) std::abort();
        const std::string file = folder + "/registry.reg";
        ::setenv("KIVREL_REGISTRY", file.c_str(), 1);
        return file;
    }();
    return path;
}

std::string read(const char* name) {
    const RegistryText t = readRegistryText(kSettingsKey, name);
    if (std::memchr(t.text, 0, sizeof t.text) == nullptr) std::abort();
    return t.text;
}

void writeStore(const std::string& bytes) {
    FILE* f = std::fopen(storeFile().c_str(), "wb");
    if (f == nullptr || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
        std::fclose(f) != 0)
        std::abort();
}

std::string readStore() {
    std::string bytes;
    FILE* f = std::fopen(storeFile().c_str(), "rb");
    if (f == nullptr) std::abort();
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
    std::fclose(f);
    return bytes;
}

constexpr char kUtf16Mark[] = "\xFF\xFE";

bool markedUtf16(const std::string& bytes) { return bytes.rfind(kUtf16Mark, 0) == 0; }

void checkOne(const std::string& file, const uint8_t* data, size_t size) {
    writeStore(file);
    // A regular file of ours: only a broken UTF-16 one can be out of reach.
    const int problem = settingsStoreProblem();
    if (problem != 0 && !(problem == kStoreBadUtf16 && markedUtf16(file))) std::abort();
    const bool badUtf16 = problem != 0;

    std::string before[std::size(kNames)];
    for (size_t i = 0; i < std::size(kNames); ++i) before[i] = read(kNames[i]);

    // One value rewritten (its text from the input's first bytes, a line break never).
    FuzzInput in(data, size);
    const size_t which = static_cast<size_t>(in.inRange(0, std::size(kNames) - 1));
    std::string text;
    for (int k = 0; k < 12; ++k)
        if (const char c = in.next<char>(); c != 0 && c != '\n' && c != '\r') text += c;
    writeRegistryText(kSettingsKey, kNames[which], text.c_str());
    if (read(kNames[which]) != text && read(kNames[which]) != before[which]) std::abort();
    for (size_t i = 0; i < std::size(kNames); ++i)
        if (i != which && read(kNames[i]) != before[i]) std::abort();
    const std::string after = readStore();
    if (badUtf16 && after != file) std::abort();
    if (markedUtf16(file) != markedUtf16(after) && after != file) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    checkOne(bytes, data, size);
    std::string wide = kUtf16Mark;
    for (const char c : bytes) wide += {c, '\0'};
    checkOne(wide, data, size);
    return 0;
}
