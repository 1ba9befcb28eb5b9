// How an option's value is read: numbers, switches, words from a list and
// FFmpeg's times, each failing with one message that names the option, the
// value and what it should have been.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "pluginhost/status.h"

inline constexpr std::string_view kTimeExpected = "a time (4.8, 1:02.5, 1:00:00, 500ms)";

// A time as a message shows it: "2.5".
std::string formatSeconds(double t);
// "-frames: '0' is not a whole number from 1 up".
Status bad(std::string_view name, std::string_view value, std::string_view expected);
bool parseInt64(std::string_view text, int64_t& v);
bool parseDouble(std::string_view text, double& v);
Status parseRange(std::string_view name, std::string_view value, int64_t lo, int64_t hi, int64_t& out);
// on/off and their spellings: 1 or 0.
Status parseSwitch(std::string_view name, std::string_view value, int& out);
// The index of the word `value` is, each word holding its aliases ("a|b").
Status parseChoice(std::string_view name, std::string_view value, std::span<const std::string_view> words,
                   int& index);
// FFmpeg's time durations: [[hours:]minutes:]seconds, or seconds with "s",
// "ms" or "us" after them.
bool parseTime(std::string_view value, double& out);
