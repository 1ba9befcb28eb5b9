// The words the settings are chosen by, as the command-line host's options
// and the frei0r filter's parameters spell them. Each entry holds its
// aliases ("a|b"); the first spelling is the one written back. Entries are
// in the order of the value they stand for: channels in channel order,
// the change words in HotFix order, and the first word of the two-way
// choices turns its switch on (ntsc, 601, 0-255).
#pragma once

#include <span>
#include <string_view>

#include "core/settings_vocabulary.h"

inline constexpr std::string_view kChannelWords[kChannelCount] = {"luma|y|l", "red|r", "green|g", "blue|b"};
inline constexpr std::string_view kAllChannelsWord = "all";
inline constexpr std::string_view kNoChannelsWord = "none";
inline constexpr std::string_view kSystemWords[] = {"ntsc", "pal"};
inline constexpr std::string_view kMatrixWords[] = {"601", "709"};
inline constexpr std::string_view kRangeWords[] = {"0-255|full", "16-235|studio"};
inline constexpr std::string_view kChangeWords[kHotFixCount] = {"black", "intensity", "saturation"};

// The entry's first spelling.
constexpr std::string_view firstWord(std::string_view entry) { return entry.substr(0, entry.find('|')); }

// The index of the entry `value` is a spelling of, or -1.
constexpr int wordIndex(std::string_view value, std::span<const std::string_view> words) {
    int index = 0;
    for (std::string_view entry : words) {
        for (size_t begin = 0;;) {
            const size_t bar = entry.find('|', begin);
            if (entry.substr(begin, bar - begin) == value) return index;
            if (bar == std::string_view::npos) break;
            begin = bar + 1;
        }
        ++index;
    }
    return -1;
}
