#include "report/timecode.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr int64_t kSecondsPerMinute = 60, kMinutesPerHour = 60, kHoursPerDay = 24;
constexpr int64_t kMinutesPerDrop = 10;  // every tenth minute keeps all its frame numbers
// Frame numbers dropped at each other minute, per 30 of the nominal rate.
constexpr int64_t kDropPer30 = 2;
constexpr int64_t kDropBase = 30;

}  // namespace

std::string timecodeAt(const std::string& start, double fps, int64_t frames) {
    int hh = 0, mm = 0, ss = 0, ff = 0, used = 0;
    char sep = 0;
    if (std::sscanf(start.c_str(), "%2d:%2d:%2d%c%2d%n", &hh, &mm, &ss, &sep, &ff, &used) != 5 ||
        static_cast<size_t>(used) != start.size() || (sep != ':' && sep != ';' && sep != '.') || fps <= 0.0)
        return "";
    const int64_t nominal = std::llround(fps);
    if (nominal <= 0 || ff >= nominal) return "";
    const bool dropFrame = sep != ':' && nominal % kDropBase == 0;
    const int64_t drop = dropFrame ? kDropPer30 * nominal / kDropBase : 0;
    const int64_t perMinute = nominal * kSecondsPerMinute - drop;
    const int64_t perTenMinutes = perMinute * kMinutesPerDrop + drop;
    const int64_t perDay = perTenMinutes * (kMinutesPerHour / kMinutesPerDrop) * kHoursPerDay;

    const int64_t minutes = int64_t{hh} * kMinutesPerHour + mm;
    int64_t n =
        (minutes * kSecondsPerMinute + ss) * nominal + ff - drop * (minutes - minutes / kMinutesPerDrop);
    n = ((n + frames) % perDay + perDay) % perDay;
    // Back to the numbers on the clock: put the dropped ones back in.
    if (drop > 0) {
        const int64_t tens = n / perTenMinutes, rest = n % perTenMinutes;
        n += drop * (kMinutesPerDrop - 1) * tens + (rest > drop ? drop * ((rest - drop) / perMinute) : 0);
    }
    const int64_t f = n % nominal, s = n / nominal;
    char out[32];
    std::snprintf(out, sizeof out, "%02lld:%02lld:%02lld%c%02lld",
                  static_cast<long long>(s / (kSecondsPerMinute * kMinutesPerHour)),
                  static_cast<long long>(s / kSecondsPerMinute % kMinutesPerHour),
                  static_cast<long long>(s % kSecondsPerMinute), sep, static_cast<long long>(f));
    return out;
}
