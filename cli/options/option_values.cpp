#include "options/option_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/setting_words.h"
#include "vocabulary.h"

namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kMinutesPerHour = 60;

}  // namespace

std::string formatSeconds(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", t);
    return text;
}

Status bad(std::string_view name, std::string_view value, std::string_view expected) {
    return Status::fail(std::string(name) + ": " + quoted(value) + " is not " + std::string(expected));
}

bool parseInt64(std::string_view text, int64_t& v) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseDouble(std::string_view text, double& v) {
    if (text.empty() || text.front() == '-' || text.front() == '+') return false;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(v);
}

Status parseRange(std::string_view name, std::string_view value, int64_t lo, int64_t hi, int64_t& out) {
    if (!parseInt64(value, out) || out < lo || out > hi)
        return bad(name, value,
                   "a whole number from " + std::to_string(lo) +
                       (hi == INT64_MAX ? std::string(" up") : " to " + std::to_string(hi)));
    return {};
}

Status parseSwitch(std::string_view name, std::string_view value, int& out) {
    for (std::string_view on : {"on", "yes", "true", "1"})
        if (value == on) {
            out = 1;
            return {};
        }
    for (std::string_view off : {"off", "no", "false", "0"})
        if (value == off) {
            out = 0;
            return {};
        }
    return bad(name, value, "on or off");
}

// Picks the index of `value` among `words`; each entry may hold aliases "a|b".
Status parseChoice(std::string_view name, std::string_view value, std::span<const std::string_view> words,
                   int& out) {
    if (const int index = wordIndex(value, words); index >= 0) {
        out = index;
        return {};
    }
    std::string expected = "one of";
    const char* separator = " ";
    for (std::string_view entry : words) {
        expected += separator + std::string(firstWord(entry));
        separator = ", ";
    }
    return bad(name, value, expected);
}

// FFmpeg's time durations: [[hours:]minutes:]seconds, or seconds with "s",
// "ms" or "us" after them.
bool parseTime(std::string_view value, double& out) {
    constexpr double kMillisecond = 1e-3, kMicrosecond = 1e-6;
    std::string_view rest = value;
    double unit = 1.0;
    if (rest.ends_with("ms")) {
        unit = kMillisecond;
        rest.remove_suffix(2);
    } else if (rest.ends_with("us")) {
        unit = kMicrosecond;
        rest.remove_suffix(2);
    } else if (rest.ends_with('s')) {
        rest.remove_suffix(1);
    }
    double seconds = 0.0;
    int64_t fields[2] = {0, 0};
    int colons = 0;
    for (size_t c = rest.find(':'); c != std::string_view::npos; c = rest.find(':')) {
        if (colons == 2 || unit != 1.0 || !parseInt64(rest.substr(0, c), fields[colons]) ||
            fields[colons] < 0)
            return false;
        ++colons;
        rest.remove_prefix(c + 1);
    }
    if (!parseDouble(rest, seconds)) return false;
    if (colons > 0 && seconds >= kSecondsPerMinute) return false;
    if (colons == 2 && fields[1] >= kMinutesPerHour) return false;
    const int64_t hours = colons == 2 ? fields[0] : 0;
    const int64_t minutes = colons == 2 ? fields[1] : fields[0];
    // In double: hours of any size must not overflow a 64-bit count.
    out = ((static_cast<double>(hours) * kMinutesPerHour + static_cast<double>(minutes)) * kSecondsPerMinute +
           seconds) *
          unit;
    return true;
}
