// What a report holds: every frame's numbers, and per file the summary the
// rules make of them. Filled by checkFile, read by the writers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_vocabulary.h"
#include "input/colour_standards.h"
#include "monitor/crop_expr.h"
#include "options/options.h"
#include "report/measure_settings.h"
#include "report/percent_limit.h"
#include "report/report_columns.h"

// Code values a pixel must keep, in 8-bit terms (fractions allowed, so that
// deeper sources round to their own nearest code values).
struct CodeLimits {
    bool judged = false;
    double lo = 0.0, hi = 0.0;
};

// What the range rule judges (--rule, --luma-range, --rgb-range, --area): a
// pixel is outside when its Y, Cb, Cr or its R, G, B (from its Y'CbCr,
// unclipped) is outside a judged range; a frame breaks the rule when more
// than `area` of its pixels are.
struct RangeRule {
    std::string name = "strict";
    CodeLimits luma{true, kLumaBlackCode, kLumaWhiteCode},
        chroma{true, kChromaLowestCode, kChromaHighestCode}, rgb;
    PercentLimit area;
};

// The rules a report judges by (--max-hot, --range-rule, --fail-on).
struct ReportRules {
    PercentLimit maxHot;      // a frame breaks the hot rule above this share
    bool studioRange = true;  // the range rule is judged (--range-rule off: not)
    RangeRule range;
    bool failOnHot = false, failOnRange = false;
    bool failOnDamaged = false;  // a file with frames damaged or lost
};

// The range rules by name: strict (luma 16-235 and chroma 16-240, any pixel
// breaks) and r103, after EBU R 103 v3.0 (2020): Y and R, G, B within 5 % of
// the nominal range beyond it, more than 1 % of a frame's pixels breaking.
// Nullptr for another name.
const RangeRule* namedRangeRule(std::string_view name);

struct ReportOptions {
    Options common;  // reading, frame selection, settings, -o
    ReportRules rules;
    MeasureSettings settings;  // as the run began (set up with its instances), or as merged reports say
    // --luma-range, --rgb-range and --area as given (unjudged, empty: not given).
    struct CustomRange {
        CodeLimits luma, rgb;
        std::optional<PercentLimit> area;
    } customRange;
    int jobs = 1;        // files checked at once (-j)
    std::string form;    // -f csv|json: the form of a report written to standard output (-o -)
    bool merge = false;  // --merge: the inputs are JSON reports, combined without reading media
    // --resume: an output that is already a whole JSON report of these inputs,
    // rules and settings is kept, any other output replaced.
    bool resume = false;
    // --files0-from: a file (or "-", standard input) of more inputs, each name ended by a NUL.
    std::string inputList;
};

// Frames in a row that break one rule.
struct TimeRange {
    int64_t firstFrame = 0, lastFrame = 0;
    double start = 0.0, end = 0.0;  // seconds; the end is where the last frame ends
    int64_t frames = 0;
    double worstPercent = 0.0;
    int64_t worstFrame = 0;  // the first of its frames with the largest share
};

// No frame for any worst measure.
inline constexpr std::array<int, kWorstMeasureCount> kNoWorstFrames = [] {
    std::array<int, kWorstMeasureCount> none{};
    none.fill(-1);
    return none;
}();

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

// FileReport's names for what was assumed, as every form prints them.
inline constexpr const char* kRgbMatrixName = "RGB";
inline constexpr const char* kFullRangeName = "full";
inline constexpr const char* kLimitedRangeName = "limited";

// What a file that was not measured is called: one that cannot be read, or
// one whose frames --crop's region does not fit.
inline constexpr const char* kUnreadable = "unreadable";
inline constexpr const char* kCropDoesNotFit = "crop does not fit";

struct FileReport {
    std::string input;
    std::string error;                  // empty when the file was read to its end
    std::string failure = kUnreadable;  // with an error: what kept the file from being measured
    // The exact file judged, even one that cannot be decoded: its size and the
    // MD5 of its bytes (-1 and "" for an input that is not a file one can read).
    int64_t fileBytes = -1;
    std::string md5;
    std::string codec;      // as FFmpeg names it ("h264"); "" where the file was not opened
    double seconds = -1.0;  // the video's stated length; -1 where the container does not state it
    // What was assumed about the input and how the filter was set.
    std::string matrix, range;  // "BT.709", "limited"; kRgbMatrixName, kFullRangeName for RGB sources
    bool matrixAssumed = false, rangeAssumed = false;
    int bits = 8;
    std::string startTimecode;    // as tagged ("10:00:00:00"); "" without one
    std::string hdrTransfer;      // "PQ" or "HLG" as tagged: judged on those code values, not as SDR
    bool sourceMeasured = false;  // coded as Y'CbCr: every src_ column holds its own code values
    // The range rule's limits at the source's depth, as judged: {lo, hi}, or {-1, -1} when not judged.
    int32_t lumaLimits[2] = {-1, -1}, chromaLimits[2] = {-1, -1}, rgbLimits[2] = {-1, -1};
    std::string filterSettings;  // "PAL, 709, 16-235, gamma corrected, max 110 IRE"
    int32_t w = 0, h = 0;
    // --crop: the region every measure covers, in the picture as shown.
    bool cropped = false;
    CropRegion region;
    double fps = 0.0;
    std::vector<FrameNumbers> frames;
    std::vector<MissingFrame> missing;  // in frame order
    int64_t damagedCount() const;
    // Summary.
    int64_t framesWithHot = 0;
    std::vector<TimeRange> hotRanges, rangeRanges;
    std::array<int, kWorstMeasureCount> worst = kNoWorstFrames;  // index into frames; -1: no frame has any
    std::vector<Figure> figures;
    bool breaksHot() const { return !hotRanges.empty(); }
    bool breaksRange() const { return !rangeRanges.empty(); }
    // Frames damaged or lost: in the middle, or cut off at the end.
    bool damaged() const { return !missing.empty(); }
};

bool breaksHotRule(const ReportRules& rules, const FrameNumbers& f);
bool breaksRangeRule(const ReportRules& rules, const FrameNumbers& f);
// Fills the summary from the frames.
void summarise(const ReportRules& rules, FileReport& file);
// Whether any file breaks a rule --fail-on names.
bool failsDelivery(const ReportRules& rules, const std::vector<FileReport>& files);
