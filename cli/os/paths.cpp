#include "os/paths.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr const char* kModuleFileName = "kivrel.so";
constexpr const char* kModuleVariable = "KIVREL_MODULE";
constexpr const char* kInstalledModuleFolder = "lib/kivrel";  // from the prefix, as the install puts it
constexpr const char* kTestCardStem = "testcard";

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// The places to look, best first. /proc/self/exe has every link resolved,
// so a link to kivrel put on the PATH still finds the module of its install.
std::vector<std::string> searchedPlaces() {
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {kModuleFileName};
    exe[n] = 0;
    const std::string bin = directoryOf(exe);
    return {joined(bin, kModuleFileName),
            joined(joined(directoryOf(bin), kInstalledModuleFolder), kModuleFileName)};
}

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

Status findModule(const std::string& given, std::string& path) {
    if (!given.empty()) {
        path = given;
        return {};
    }
    // Named outright, like --module: a wrong name is an error, never a
    // reason to load some other module instead.
    if (const char* named = std::getenv(kModuleVariable); named != nullptr && *named != '\0') {
        struct stat st {};
        if (::stat(named, &st) != 0)
            return Status::fail(std::string("module ") + named + " (from " + kModuleVariable +
                                "): " + std::strerror(errno));
        path = named;
        return {};
    }
    const std::vector<std::string> places = searchedPlaces();
    std::string looked;
    for (const std::string& place : places) {
        if (isFile(place)) {
            path = place;
            return {};
        }
        looked += (looked.empty() ? "" : ", ") + place;
    }
    return Status::fail("no filter module: looked for " + looked + " (" + kModuleVariable +
                        " or --module names another)");
}

std::string defaultModulePath() {
    std::string path;
    if (findModule("", path).ok()) return path;
    const char* named = std::getenv(kModuleVariable);
    return named != nullptr && *named != '\0' ? named : searchedPlaces().front();
}

std::string stemOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? kTestCardStem : name;
}
