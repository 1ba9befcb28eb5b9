// What every form of the report says about a file as a whole, in the same words.
#pragma once

#include <string>

#include "report/report_data.h"

// What a frame without numbers is.
const char* missingWhy(const MissingFrame& m);  // "damaged" or "lost"

std::string verdictOf(const FileReport& file);  // "legal", or which rules it breaks
std::string assumedText(const FileReport& file);
// What the report finds about the file as a whole, beyond its frames'
// numbers ("full-range Y′CbCr: not a broadcast range"), "; " between two;
// "" for nothing. Every form says it.
std::string findingsText(const FileReport& file);
// The range rule as judged on one file: "r103: Y 20-984, RGB 20-984 at 10
// bits, more than 1 % of a frame".
std::string rangeRuleText(const RangeRule& rule, const FileReport& file);
// "92, 8 missing: 2 damaged and left out, 6 lost"
std::string framesText(const FileReport& file);
// "400×300 at 760,390 (FFmpeg's crop=400:300:760:390)": the region --crop measured.
std::string regionText(const CropRegion& region);
// The missing frames in runs of one kind: "58-63 at 3.720-4.053 s lost";
// at most `most` runs, then how many more. With `timecodes`, each time as
// timeText() gives it: "58-63 at 3.720 s (00:00:03:18) – 4.053 s (00:00:04:01) lost".
std::string missingText(const FileReport& file, size_t most, bool timecodes = false);
// The frame's timecode counted from the file's start timecode (drop-frame
// where that is), from 00:00:00:00 for a file without one; "" without a rate.
std::string timecodeOf(const FileReport& file, int64_t frame);
// A time on the page: "1.240 s (10:00:01:06)", the frame's timecode beside the seconds.
std::string timeText(const FileReport& file, double seconds, int64_t frame);
// The video's length: as stated, else what its frames span; 0 for none.
double durationOf(const FileReport& file);
// What the range rule judges, in words, from the rules in force: which code
// values, their limits and how much of a frame may leave them.
std::string rangeJudgedText(const ReportRules& rules);
