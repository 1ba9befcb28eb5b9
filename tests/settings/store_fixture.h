// The test side's own access to the platform's settings store, beside the
// module's code: values set and read as the platform keeps them, so a test
// can prepare a store and see exactly what the module left in it. One file
// per platform: the registry API on Windows, the file elsewhere.
//
// Every suite of the test program runs against a private store that starts
// empty (a global environment in each platform's file), never the user's.
#pragma once

#include <map>
#include <string>

namespace rawstore {

// The settings key as the store's users know it, spelt here on its own.
inline constexpr const char* kKeyPath = "Software\\VirtualDub\\Kivrel";

// Removes the key and every value in it.
void clear();
bool keyExists();
// Stores the text as a string value, its terminator included; without it
// when `terminated` is false and the platform keeps one (the registry).
void set(const std::string& name, const std::string& text, bool terminated = true);
// Every value of the key, by name as stored.
std::map<std::string, std::string> values();

}  // namespace rawstore
