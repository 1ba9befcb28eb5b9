#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "pluginhost/module_library.h"

Status ModuleLibrary::open(const std::string& path) {
    struct stat st {};
    const std::string where = "module " + path;
    if (::stat(path.c_str(), &st) != 0) return Status::fail(where + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return Status::fail(where + ": is a directory");
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) return {};
    // dlerror() repeats the file name in front of the reason; keep the reason.
    const char* e = dlerror();
    std::string reason = e != nullptr ? e : "unknown loader error";
    if (reason.rfind(file + ": ", 0) == 0) reason.erase(0, file.size() + 2);
    return Status::fail("cannot load " + where + ": " + reason);
}

void* ModuleLibrary::symbol(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

ModuleLibrary::~ModuleLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}
