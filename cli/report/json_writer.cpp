// The JSON: a summary of every file (with the version and rules --merge
// asks for) and every measured frame, keyed by the columns the JSON holds.
#include <iterator>
#include <utility>

#include "report/file_phrases.h"
#include "report/report_writers.h"
#include "report/timecode.h"
#include "report/value_text.h"

namespace {

constexpr int kRateDecimals = 6;  // 30000/1001 to well within what a timecode's nominal rate needs

std::string missingJson(const std::vector<MissingFrame>& missing) {
    std::string out = "[";
    for (size_t i = 0; i < missing.size(); ++i)
        out += std::string(i > 0 ? ", " : "") + "{\"frame\": " + std::to_string(missing[i].frame) +
               ", \"time\": " + fixed(missing[i].time, kTimeDecimals) +
               ", \"why\": " + jsonString(missingWhy(missing[i])) + "}";
    return out + "]";
}

std::string rangesJson(const std::vector<TimeRange>& ranges) {
    std::string out = "[";
    for (size_t i = 0; i < ranges.size(); ++i) {
        const TimeRange& r = ranges[i];
        out += std::string(i > 0 ? ", " : "") + "{\"start\": " + fixed(r.start, kTimeDecimals) +
               ", \"end\": " + fixed(r.end, kTimeDecimals) +
               ", \"first_frame\": " + std::to_string(r.firstFrame) +
               ", \"last_frame\": " + std::to_string(r.lastFrame) +
               ", \"frames\": " + std::to_string(r.frames) +
               ", \"worst_percent\": " + fixed(r.worstPercent, kPercentDecimals) +
               ", \"worst_frame\": " + std::to_string(r.worstFrame) + "}";
    }
    return out + "]";
}

// [lo, hi] in 8-bit terms, or null for a range not judged.
std::string limitsJson(const CodeLimits& l) {
    return l.judged ? "[" + fixed(l.lo, 2) + ", " + fixed(l.hi, 2) + "]" : "null";
}

// The rules --fail-on names, as the JSON lists them: "hot", "range", "damaged".
std::string failOnText(const ReportRules& rules) {
    std::string out;
    for (const auto& [on, name] : {std::pair{rules.failOnHot, "hot"}, std::pair{rules.failOnRange, "range"},
                                   std::pair{rules.failOnDamaged, "damaged"}})
        if (on) out += std::string(out.empty() ? "" : ", ") + "\"" + name + "\"";
    return out;
}

// What ties the verdict to the exact file, read or not: its size and the
// MD5 of its bytes, null where the input is no file that could be read.
std::string identityJson(const FileReport& f) {
    return ", \"file_bytes\": " + (f.fileBytes < 0 ? std::string("null") : std::to_string(f.fileBytes)) +
           ", \"md5\": " + (f.md5.empty() ? std::string("null") : jsonString(f.md5));
}

}  // namespace

const char* kivrelVersion() { return KIVREL_VERSION; }

std::vector<std::string> jsonFrameKeys() {
    std::vector<std::string> keys;
    for (const ReportColumn& c : kReportColumns)
        if (inJson(c)) keys.emplace_back(c.key);
    return keys;
}

std::string rulesText(const ReportRules& rules) {
    // The limits exactly as given, so that --merge judges as the run did.
    return "{\"max_hot_percent\": " + rules.maxHot.text(kPercentDecimals) +
           ", \"range_rule\": " + jsonString(rules.studioRange ? "studio" : "off") + ", \"fail_on\": [" +
           failOnText(rules) + "],\n              \"rule\": " + jsonString(rules.range.name) +
           ", \"luma_range\": " + limitsJson(rules.range.luma) +
           ", \"chroma_range\": " + limitsJson(rules.range.chroma) +
           ", \"rgb_range\": " + limitsJson(rules.range.rgb) +
           ", \"area_percent\": " + rules.range.area.text(kPercentDecimals) + "}";
}

std::string jsonText(const ReportOptions& options, const std::vector<FileReport>& files) {
    const ReportRules& rules = options.rules;
    std::string out = "{\n  \"summary\": {\n";
    bool legal = true;
    std::string notMeasured;  // what the first file not measured is called
    for (const FileReport& f : files) {
        legal = legal && !f.breaksHot() && !f.breaksRange();
        if (!f.error.empty() && notMeasured.empty()) notMeasured = f.failure;
    }
    out += "    \"verdict\": " +
           jsonString(!legal                 ? "breaks rules"
                      : !notMeasured.empty() ? notMeasured
                                             : "legal") +
           ",\n";
    // The version, the rules and the settings: what --merge asks of reports made elsewhere.
    out += "    \"version\": " + jsonString(kivrelVersion()) + ",\n";
    out += "    \"rules\": " + rulesText(rules) + ",\n";
    out += "    \"settings\": " + measureSettingsJson(options.settings) + ",\n";
    out += "    \"files\": [";
    for (size_t i = 0; i < files.size(); ++i) {
        const FileReport& f = files[i];
        // A name that is not UTF-8 is shown with U+FFFD for what it cannot
        // hold; its exact bytes follow, so that a merge tells such names apart.
        const std::string exact =
            validUtf8(f.input) == f.input ? "" : ", \"input_bytes\": " + jsonString(escapedBytes(f.input));
        if (!f.error.empty()) {
            out += std::string(i > 0 ? "," : "") + "\n      {\"input\": " + jsonString(f.input) + exact +
                   ", \"verdict\": " + jsonString(f.failure) + ", \"error\": " + jsonString(f.error) +
                   identityJson(f) + "}";
            continue;
        }
        out += std::string(i > 0 ? "," : "") + "\n      {\"input\": " + jsonString(f.input) + exact +
               ", \"verdict\": " + jsonString(verdictOf(f)) +
               ", \"frames\": " + std::to_string(f.frames.size()) +
               ", \"frames_with_hot\": " + std::to_string(f.framesWithHot) +
               ", \"frames_damaged\": " + std::to_string(f.damagedCount()) + ", \"frames_lost\": " +
               std::to_string(static_cast<int64_t>(f.missing.size()) - f.damagedCount()) +
               ",\n       \"missing\": " + missingJson(f.missing) +
               ",\n       \"assumed\": {\"matrix\": " + jsonString(f.matrix) +
               ", \"matrix_untagged\": " + (f.matrixAssumed ? "true" : "false") +
               ", \"range\": " + jsonString(f.range) +
               ", \"range_untagged\": " + (f.rangeAssumed ? "true" : "false") +
               ", \"bits\": " + std::to_string(f.bits) +
               ", \"transfer\": " + jsonString(f.hdrTransfer.empty() ? "SDR" : f.hdrTransfer) +
               "},\n       \"findings\": " + jsonString(findingsText(f)) +
               ", \"range_rule\": " + jsonString(rangeRuleText(rules.range, f)) +
               ", \"source_measured\": " + (f.sourceMeasured ? "true" : "false") +
               ", \"start_timecode\": " + (f.startTimecode.empty() ? "null" : jsonString(f.startTimecode)) +
               // What the frames' timecodes count at: --merge counts the missing frames' from it.
               ", \"frame_rate\": " + fixed(f.fps, kRateDecimals) +
               ",\n       \"codec\": " + jsonString(f.codec) + ", \"duration\": " +
               (f.seconds < 0.0 ? std::string("null") : fixed(f.seconds, kTimeDecimals)) + identityJson(f) +
               ",\n       \"settings\": " + jsonString(f.filterSettings) +
               ", \"width\": " + std::to_string(f.w) + ", \"height\": " + std::to_string(f.h) +
               // What the frames' shares are of: --merge counts their pixels from them.
               ", \"frame_pixels\": " + std::to_string(f.frames.empty() ? 0 : f.frames.front().pixels) +
               ",\n       \"hot_ranges\": " + rangesJson(f.hotRanges) +
               ",\n       \"range_ranges\": " + rangesJson(f.rangeRanges) + ",\n       \"worst\": {";
        for (int m = 0; m < kWorstMeasureCount; ++m) {
            out += std::string(m > 0 ? ", " : "") + jsonString(kWorstMeasures[m]->key) + ": ";
            if (f.worst[m] < 0) {
                out += "null";
                continue;
            }
            const FrameNumbers& w = f.frames[f.worst[m]];
            const double share = worstMeasurePercent(w, m);
            out += "{\"frame\": " + std::to_string(w.frame) + ", \"time\": " + fixed(w.time, kTimeDecimals) +
                   ", \"value\": " + fixed(share, kPercentDecimals) + "}";
        }
        out += "}}";
    }
    out += "\n    ]\n  },\n  \"frames\": [";
    bool first = true;
    for (const FileReport& file : files)
        for (const FrameNumbers& f : file.frames) {
            out += std::string(first ? "" : ",") + "\n    {";
            // Missing frames are listed with the file's summary.
            bool firstKey = true;
            for (const ReportColumn& c : kReportColumns) {
                if (!inJson(c)) continue;
                std::string value;
                if (c.form == ColumnForm::Input) {
                    value = jsonString(file.input);
                } else if (c.form == ColumnForm::Timecode) {
                    const std::string timecode = timecodeAt(file.startTimecode, file.fps, f.frame);
                    value = timecode.empty() ? "null" : jsonString(timecode);
                } else {
                    value = numberText(c, f);
                }
                out += std::string(firstKey ? "" : ", ") + "\"" + c.key + "\": " + value;
                firstKey = false;
            }
            out += "}";
            first = false;
        }
    return out + "\n  ]\n}\n";
}
