#include <windows.h>

#include "pluginhost/module_library.h"

Status ModuleLibrary::open(const std::string& path) {
    // A path with a separator keeps LoadLibrary from searching for the name.
    const bool bare = path.find_first_of("/\\") == std::string::npos;
    const std::string file = bare ? ".\\" + path : path;
    const std::string where = "module " + path;
    const DWORD attributes = GetFileAttributesA(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Status::fail(where + ": no such file");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Status::fail(where + ": is a directory");
    HMODULE m = LoadLibraryA(file.c_str());
    if (m == nullptr)
        return Status::fail("cannot load " + where + ": LoadLibrary failed with error " +
                            std::to_string(GetLastError()));
    handle_ = reinterpret_cast<void*>(m);
    return {};
}

void* ModuleLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
}

ModuleLibrary::~ModuleLibrary() {
    if (handle_ != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
}
