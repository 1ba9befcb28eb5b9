#include "report/timecode.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavutil/timecode.h>
}

namespace {

// libavutil counts drop-frame only at multiples of 30 frames a second
// (29.97, 59.94, ...); elsewhere a ';' is only a separator.
constexpr int64_t kDropBase = 30;

}  // namespace

std::string timecodeAt(const std::string& start, double fps, int64_t frames) {
    int hh = 0, mm = 0, ss = 0, ff = 0, used = 0;
    char sep = 0;
    if (std::sscanf(start.c_str(), "%2d:%2d:%2d%c%2d%n", &hh, &mm, &ss, &sep, &ff, &used) != 5 ||
        static_cast<size_t>(used) != start.size() || (sep != ':' && sep != ';' && sep != '.') || fps <= 0.0)
        return "";
    const int64_t nominal = std::llround(fps);
    if (nominal <= 0 || ff >= nominal || nominal > INT32_MAX) return "";
    const int flags = AV_TIMECODE_FLAG_24HOURSMAX |
                      (sep != ':' && nominal % kDropBase == 0 ? AV_TIMECODE_FLAG_DROPFRAME : 0);
    const AVRational rate{static_cast<int>(nominal), 1};
    AVTimecode tc, day;
    // The day's frame count (the numbers of 24:00:00:00) keeps the count
    // within libavutil's int, whatever the clip's length.
    if (av_timecode_init_from_components(&tc, rate, flags, hh, mm, ss, ff, nullptr) < 0 ||
        av_timecode_init_from_components(&day, rate, flags, 24, 0, 0, 0, nullptr) < 0 || day.start <= 0)
        return "";
    const int64_t onDay = ((frames % day.start) + day.start) % day.start;
    char out[AV_TIMECODE_STR_SIZE];
    av_timecode_make_string(&tc, out, static_cast<int>(onDay));
    // The frames' separator as the start wrote it (libavutil writes ';' for
    // every drop-frame), and the frame number in two digits at least, as
    // the start's (libavutil pads to three above 100 frames a second).
    std::string text = out;
    const size_t at = text.find_last_of(":;");
    if (at == std::string::npos) return "";
    char frame[AV_TIMECODE_STR_SIZE];
    std::snprintf(frame, sizeof frame, "%c%02d", sep, std::atoi(text.c_str() + at + 1));
    return text.substr(0, at) + frame;
}
