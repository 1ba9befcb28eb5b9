// What a report holds: every frame's numbers, and per file the summary the
// rules make of them. Filled by checkFile, read by the writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/settings_vocabulary.h"
#include "options/options.h"

// The rules a report judges by (--max-hot, --range-rule, --fail-on).
struct ReportRules {
    double maxHotPercent = 0.0;  // a frame breaks the hot rule above this share
    bool studioRange = true;     // a frame breaks the range rule with any luma outside 16..235
    bool failOnHot = false, failOnRange = false;
};

struct ReportOptions {
    Options common;  // reading, frame selection, settings, -o
    ReportRules rules;
    int jobs = 1;  // files checked at once (-j)
};

// One frame: the filter's own measures (its histograms and hot pixel scan,
// at its settings) and the source's own luma code values, which the range
// rule judges.
struct FrameNumbers {
    int64_t frame = 0;  // the frame's number in the source
    double time = 0.0;  // its presentation time, seconds
    int32_t avd = 0;    // the histograms' "AVD"
    // Lowest and highest level the histograms see, every pixel counting; channel order.
    int32_t lowest[kChannelCount] = {};
    int32_t highest[kChannelCount] = {};
    int64_t pixels = 0;
    int64_t hotPixels = 0;
    // Pixels whose source luma code value is below 16, above 235; the lowest
    // and highest code value present (-1 without pixels).
    int64_t below16 = 0, above235 = 0;
    int32_t sourceLowest = -1, sourceHighest = -1;

    double share(int64_t n) const { return pixels > 0 ? 100.0 * static_cast<double>(n) / pixels : 0.0; }
    double hotPercent() const { return share(hotPixels); }
    double below16Percent() const { return share(below16); }
    double above235Percent() const { return share(above235); }
};

// Frames in a row that break one rule.
struct TimeRange {
    int64_t firstFrame = 0, lastFrame = 0;
    double start = 0.0, end = 0.0;  // seconds; the end is where the last frame ends
    int64_t frames = 0;
    double worstPercent = 0.0;
};

// The measures a report names the worst frame of, in this order.
enum WorstMeasure : int { kWorstHot = 0, kWorstBelow16, kWorstAbove235, kWorstMeasureCount };
inline constexpr const char* kWorstMeasureKeys[kWorstMeasureCount] = {"hot_percent", "below16_percent",
                                                                      "above235_percent"};
inline constexpr const char* kWorstMeasureNames[kWorstMeasureCount] = {
    "most hot pixels", "most source luma below 16", "most source luma above 235"};
// The frame's share of pixels by one of those measures.
inline double worstMeasurePercent(const FrameNumbers& f, int measure) {
    return measure == kWorstHot       ? f.hotPercent()
           : measure == kWorstBelow16 ? f.below16Percent()
                                      : f.above235Percent();
}

// A frame of the source that has no numbers: decoded damaged and left out
// (--skip-errors), or lost: the stream holds nothing at its time.
struct MissingFrame {
    int64_t frame = 0;  // its number in the source, from the times around it
    double time = 0.0;
    bool damaged = false;
};

// A picture for the page: PNG bytes.
struct Figure {
    int64_t frame = 0;
    double time = 0.0;
    std::string why;        // which measure made it worst
    std::string thumbnail;  // the picture, hot pixels marked
    std::string waveform;   // the waveform monitor of the same frame
    int64_t hotPixels = 0;
};

struct FileReport {
    std::string input;
    std::string error;  // empty when the file was read to its end
    // What was assumed about the input and how the filter was set.
    std::string matrix, range;  // "BT.709", "limited"; "RGB" for RGB sources
    bool matrixAssumed = false, rangeAssumed = false;
    int bits = 8;
    std::string filterSettings;  // "PAL, 709, 16-235, gamma corrected, max 110 IRE"
    int32_t w = 0, h = 0;
    double fps = 0.0;
    std::vector<FrameNumbers> frames;
    std::vector<MissingFrame> missing;  // in frame order
    int64_t damagedCount() const;
    // Summary.
    int64_t framesWithHot = 0;
    std::vector<TimeRange> hotRanges, rangeRanges;
    int worst[kWorstMeasureCount] = {-1, -1, -1};  // index into frames; -1: no frame has any
    std::vector<Figure> figures;
    bool breaksHot() const { return !hotRanges.empty(); }
    bool breaksRange() const { return !rangeRanges.empty(); }
};

bool breaksHotRule(const ReportRules& rules, const FrameNumbers& f);
bool breaksRangeRule(const ReportRules& rules, const FrameNumbers& f);
// Fills the summary from the frames.
void summarise(const ReportRules& rules, FileReport& file);
// Whether any file breaks a rule --fail-on names.
bool failsDelivery(const ReportRules& rules, const std::vector<FileReport>& files);
