#include "paths.h"

#include <unistd.h>

#include <climits>

namespace {

constexpr const char* kModuleFileName = "kivrel.so";
constexpr const char* kTestCardStem = "testcard";

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::string defaultModulePath() {
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return kModuleFileName;
    exe[n] = 0;
    return directoryOf(exe) + "/" + kModuleFileName;
}

std::string stemOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? kTestCardStem : name;
}
