// The registry from the test side, through the registry API. The whole test
// program runs with HKEY_CURRENT_USER redirected to a key of its own, which
// it deletes at the end, so neither the user's settings nor anything the
// tests wrote outlives the run.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "settings/store_fixture.h"

namespace {

std::string privateRoot() { return "Software\\Kivrel tests " + std::to_string(GetCurrentProcessId()); }

class PrivateRegistry : public testing::Environment {
public:
    void SetUp() override {
        HKEY root = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, privateRoot().c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &root, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, root), ERROR_SUCCESS);
        RegCloseKey(root);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, privateRoot().c_str()), ERROR_SUCCESS);
    }
};

[[maybe_unused]] testing::Environment* const privateRegistry =
    testing::AddGlobalTestEnvironment(new PrivateRegistry);

}  // namespace

namespace rawstore {

void clear() { RegDeleteTreeA(HKEY_CURRENT_USER, kKeyPath); }

bool keyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void set(const std::string& name, const std::string& text, bool terminated) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + (terminated ? 1 : 0))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::map<std::string, std::string> values() {
    std::map<std::string, std::string> all;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return all;
    std::vector<char> name(16384), data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()),
              type = 0;
        if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &dataSize) != ERROR_SUCCESS)
            break;
        std::string text(data.data(), dataSize);
        if (!text.empty() && text.back() == '\0') text.pop_back();
        all[std::string(name.data(), nameSize)] = text;
    }
    RegCloseKey(key);
    return all;
}

}  // namespace rawstore
