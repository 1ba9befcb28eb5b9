// Persistent defaults for new instances: fourteen named text values under
// one per-user key. The platform's store stands behind readRegistryText and
// writeRegistryText; the encodings and the load rules are the same everywhere.
#pragma once

#include "core/settings.h"

inline constexpr const char* kSettingsKey = "Software\\VirtualDub\\Kivrel";
inline constexpr int kRegistryTextSize = 256;

struct RegistryText {
    char text[kRegistryTextSize];
};

// The value's bytes as text, or "-1" when the key or value cannot be read
// (missing, or longer than 255 bytes).
RegistryText readRegistryText(const char* subkey, const char* valueName);
// Creates the key if needed; failures are silent.
void writeRegistryText(const char* subkey, const char* valueName, const char* text);

// Fills the settings from the store, falling back to each field's default.
void loadSettings(ScopeSettings& s);
void saveSettings(const ScopeSettings& s);
