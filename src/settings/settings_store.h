// Persistent defaults for new instances: fourteen named text values under
// one per-user key. The platform's store stands behind readRegistryText and
// writeRegistryText; the encodings and the load rules are the same everywhere.
#pragma once

#include "core/settings_vocabulary.h"

inline constexpr const char* kSettingsKey = "Software\\VirtualDub\\Kivrel";
inline constexpr int kRegistryTextSize = 256;
// The store is queried declaring one byte less than the buffer, terminator
// included, so the longest value that reads back has this many characters.
inline constexpr int kRegistryTextLongest = kRegistryTextSize - 2;
// What every failed read gives: the text of a value that is not there.
inline constexpr const char* kAbsentText = "-1";

struct RegistryText {
    char text[kRegistryTextSize];  // always terminated
};

// The value's bytes as text, or kAbsentText when the key or value cannot be
// read or the value is longer than kRegistryTextLongest. Reading never
// creates or changes anything.
RegistryText readRegistryText(const char* subkey, const char* valueName);
// Creates the key if needed; false when the value could not be written
// (the file store says why: store_file.h).
bool writeRegistryText(const char* subkey, const char* valueName, const char* text);

// Fills the settings from the store, falling back to each field's default.
void loadSettings(ScopeSettings& s);
// Writes every value, even after one fails; true when all went through.
bool saveSettings(const ScopeSettings& s);
