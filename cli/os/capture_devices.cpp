#include "os/capture_devices.h"

#include <dlfcn.h>

#include <mutex>

extern "C" {
#include <libavdevice/version_major.h>
}

namespace {

#define KIVREL_TEXT(x) #x
#define KIVREL_SONAME(major) "libavdevice.so." KIVREL_TEXT(major)
// The major version built against: its formats are the ones these headers describe.
constexpr const char* kDevicesLibrary = KIVREL_SONAME(LIBAVDEVICE_VERSION_MAJOR);
#undef KIVREL_SONAME
#undef KIVREL_TEXT

std::string loadOnce() {
    // Kept for the whole process: registered formats point into it.
    void* library = ::dlopen(kDevicesLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        return std::string("FFmpeg's capture devices cannot be loaded (") +
               (why != nullptr ? why : kDevicesLibrary) + ")";
    }
    using RegisterAll = void (*)();
    auto registerAll = reinterpret_cast<RegisterAll>(::dlsym(library, "avdevice_register_all"));
    if (registerAll == nullptr) return std::string(kDevicesLibrary) + " has no avdevice_register_all";
    registerAll();
    return {};
}

}  // namespace

std::string loadCaptureDevices() {
    static std::once_flag once;
    static std::string answer;
    std::call_once(once, [] { answer = loadOnce(); });
    return answer;
}
