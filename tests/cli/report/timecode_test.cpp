// Timecodes counted on from a start, checked against SMPTE 12M's counting:
// drop-frame leaves out frame numbers 00 and 01 (00 to 03 at 59.94) at each
// minute but every tenth, so ten minutes are 17982 frames at 29.97.
#include <gtest/gtest.h>

#include <string>

#include "report/timecode.h"

TEST(ReportTimecode, CountsAsSmpteDoes) {
    constexpr double kNtsc = 30000.0 / 1001, kNtsc2x = 60000.0 / 1001;
    const struct {
        const char* start;
        double fps;
        int64_t frames;
        const char* want;
    } cases[] = {
        {"00:00:00;00", kNtsc, 1799, "00:00:59;29"},    // the first minute keeps all 1800
        {"00:00:00;00", kNtsc, 1800, "00:01:00;02"},    // ;00 and ;01 left out
        {"00:00:00;00", kNtsc, 17982, "00:10:00;00"},   // the tenth minute keeps its numbers
        {"00:00:00;00", kNtsc, 107892, "01:00:00;00"},  // an hour: 6 x 17982
        {"00:00:00;00", kNtsc2x, 3600, "00:01:00;04"},  // four left out at 59.94
        {"23:59:59;29", kNtsc, 1, "00:00:00;00"},       // the day wraps
        {"00:00:00.00", kNtsc, 1800, "00:01:00.02"},    // '.' counts drop-frame too, and stays
        {"00:00:00:00", kNtsc, 1800, "00:01:00:00"},    // ':' is non-drop, even at 29.97
        {"00:00:00;00", 25, 1500, "00:01:00;00"},       // no dropping at 25
        {"01:00:00:00", 25, 25 * 3600 * 24, "01:00:00:00"},
        {"00:00:00:00", 120, 96, "00:00:00:96"},  // two digits, as the start has them
        {"10:00:00:25", 25, 0, ""},               // no frame 25 at 25
        {"10:00:00", 25, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " + " + std::to_string(c.frames));
        EXPECT_EQ(timecodeAt(c.start, c.fps, c.frames), c.want);
    }
}
