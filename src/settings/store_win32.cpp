// The store on Windows: the current user's registry, through the ANSI calls.
#include <windows.h>

#include <cstring>

#include "settings/settings_store.h"

namespace {

RegistryText absentText() {
    RegistryText t{};
    std::strcpy(t.text, kAbsentText);
    return t;
}

}  // namespace

RegistryText readRegistryText(const char* subkey, const char* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return absentText();
    RegistryText t{};
    // One byte short of the buffer: the registry does not promise a
    // terminator, so there is always room to add one.
    DWORD size = kRegistryTextSize - 1;
    const LONG result =
        RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(t.text), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return absentText();  // missing, or too long for the buffer
    t.text[size < kRegistryTextSize - 1 ? size : kRegistryTextSize - 1] = '\0';
    // A value stored without its terminator can fill the declared size.
    if (std::strlen(t.text) > kRegistryTextLongest) return absentText();
    return t;
}

bool writeRegistryText(const char* subkey, const char* valueName, const char* text) {
    HKEY key = nullptr;
    char keyClass[] = "Anything";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, subkey, 0, keyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                       static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}
