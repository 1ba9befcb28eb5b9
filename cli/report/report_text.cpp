// CSV, JSON and the summary table.
#include <cstdio>
#include <iterator>
#include <utility>

#include "report/report_writers.h"
#include "report/timecode.h"

namespace {

constexpr int kByteBits = 8;
constexpr int kTimeDecimals = 3;     // milliseconds
constexpr int kPercentDecimals = 4;  // one pixel of a 1080p frame is 0.00005 %
constexpr int kRateDecimals = 6;     // 30000/1001 to well within what a timecode's nominal rate needs

constexpr const char* kColumns[] = {"input",
                                    "frame",
                                    "time",
                                    "avd",
                                    "luma_min",
                                    "luma_max",
                                    "red_min",
                                    "red_max",
                                    "green_min",
                                    "green_max",
                                    "blue_min",
                                    "blue_max",
                                    "hot_pixels",
                                    "hot_percent",
                                    "below16_percent",
                                    "above235_percent",
                                    "source_luma_min",
                                    "source_luma_max",
                                    "missing"};
// The measured frames' columns; "missing" names why a frame has none.
constexpr size_t kMeasureColumns = std::size(kColumns) - 1;
// Then the source's own code values at its depth, and the share of its
// pixels outside the range rule.
constexpr const char* kSourceColumns[] = {
    "src_y_min", "src_y_max", "src_cb_min", "src_cb_max", "src_cr_min", "src_cr_max",     "src_r_min",
    "src_r_max", "src_g_min", "src_g_max",  "src_b_min",  "src_b_max",  "outside_percent"};

// Last, each frame's own timecode from the source's start timecode (empty
// without one), and what the report finds about its file (findingsText).
constexpr const char* kTimecodeColumn = "timecode";
constexpr const char* kFindingsColumn = "findings";

constexpr const char* kUnreadable = "unreadable";

constexpr unsigned char kDelete = 0x7F;  // a control character JSON allows raw; escaped all the same

std::string csvField(const std::string& text) {
    const std::string s = validUtf8(text);
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string jsonString(const std::string& text) {
    const std::string s = validUtf8(text);
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == kDelete) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The values of one frame in column order, input first.
std::vector<std::string> frameValues(const FileReport& file, const FrameNumbers& f, bool json) {
    std::vector<std::string> v = {json ? jsonString(file.input) : csvField(file.input),
                                  std::to_string(f.frame), fixed(f.time, kTimeDecimals),
                                  std::to_string(f.avd)};
    for (int c = 0; c < kChannelCount; ++c) {
        v.push_back(std::to_string(f.lowest[c]));
        v.push_back(std::to_string(f.highest[c]));
    }
    v.push_back(std::to_string(f.hotPixels));
    v.push_back(fixed(f.hotPercent(), kPercentDecimals));
    v.push_back(fixed(f.below16Percent(), kPercentDecimals));
    v.push_back(fixed(f.above235Percent(), kPercentDecimals));
    v.push_back(std::to_string(f.sourceLowest));
    v.push_back(std::to_string(f.sourceHighest));
    return v;
}

std::vector<std::string> sourceValues(const FrameNumbers& f) {
    std::vector<std::string> v;
    for (int m = 0; m < kSourceMeasureCount; ++m) {
        v.push_back(std::to_string(f.srcLowest[m]));
        v.push_back(std::to_string(f.srcHighest[m]));
    }
    v.push_back(fixed(f.outsidePercent(), kPercentDecimals));
    return v;
}

const char* missingWhy(const MissingFrame& m) { return m.damaged ? "damaged" : "lost"; }

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
               ", \"worst_percent\": " + fixed(r.worstPercent, kPercentDecimals) + "}";
    }
    return out + "]";
}

// [lo, hi] in 8-bit terms, or null for a range not judged.
std::string limitsJson(const CodeLimits& l) {
    return l.judged ? "[" + fixed(l.lo, 2) + ", " + fixed(l.hi, 2) + "]" : "null";
}

constexpr size_t kMostMissingRuns = 20;  // in the table; the CSV and JSON list every frame
constexpr size_t kLabelWidth = 26;       // the table's labels, as %-26s

std::string padded(const std::string& label) {
    return label + std::string(label.size() < kLabelWidth ? kLabelWidth - label.size() : 0, ' ');
}

}  // namespace

ReportForm reportFormFor(const std::string& output) {
    return output.empty()              ? ReportForm::Table
           : output.ends_with(".csv")  ? ReportForm::Csv
           : output.ends_with(".json") ? ReportForm::Json
                                       : ReportForm::Html;
}

ReportForm reportFormOf(const ReportOptions& options) {
    if (options.common.output != kStandardOutput) return reportFormFor(options.common.output);
    return options.form == "json" ? ReportForm::Json : ReportForm::Csv;
}

std::string fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string percentText(double share) { return fixed(share, kPercentDecimals); }

std::string validUtf8(const std::string& s) {
    constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD
    std::string out;
    out.reserve(s.size());
    const auto byte = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
    const auto trailing = [&](size_t i) { return (byte(i) & 0xC0) == 0x80; };
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = byte(i);
        // The length of a well-formed sequence starting here (RFC 3629:
        // no overlong forms, no surrogates, nothing above U+10FFFF), or 0.
        size_t n = 0;
        if (c < 0x80) {
            n = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = trailing(i + 1) ? 2 : 0;
        } else if (c >= 0xE0 && c <= 0xEF) {
            const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
            n = byte(i + 1) >= lo && byte(i + 1) <= hi && trailing(i + 2) ? 3 : 0;
        } else if (c >= 0xF0 && c <= 0xF4) {
            const unsigned char lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
            n = byte(i + 1) >= lo && byte(i + 1) <= hi && trailing(i + 2) && trailing(i + 3) ? 4 : 0;
        }
        if (n == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(s, i, n);
            i += n;
        }
    }
    return out;
}

std::string verdictOf(const FileReport& file) {
    if (!file.error.empty()) return "unreadable";
    if (!file.breaksHot() && !file.breaksRange()) return "legal";
    std::string v = "breaks";
    if (file.breaksHot()) v += " hot";
    if (file.breaksHot() && file.breaksRange()) v += " and";
    if (file.breaksRange()) v += " range";
    return v;
}

std::string assumedText(const FileReport& file) {
    std::string t = file.matrix + (file.matrixAssumed ? " (untagged, assumed)" : "");
    t += ", " + file.range + " range" + (file.rangeAssumed ? " (untagged, assumed)" : "");
    t += ", " + std::to_string(file.bits) + " bits" + (file.bits > 8 ? " read as 8" : "");
    return t + (file.hdrTransfer.empty() ? "" : ", " + file.hdrTransfer);
}

std::string findingsText(const FileReport& file) {
    std::vector<std::string> found;
    // Judged as broadcast codes it all the same (source_planes.h), but the file is not what broadcast takes.
    if (file.error.empty() && file.matrix != kRgbMatrixName && file.range == kFullRangeName)
        found.emplace_back("full-range Y′CbCr: not a broadcast range");
    std::string t;
    for (const std::string& f : found) t += (t.empty() ? "" : "; ") + f;
    return t;
}

std::string rangeRuleText(const RangeRule& rule, const FileReport& file) {
    std::string t = rule.name + ":";
    const auto limits = [&](const char* name, const int32_t(&l)[2]) {
        if (l[0] < 0) return;
        t += std::string(t.back() == ':' ? " " : ", ") + name + " " + std::to_string(l[0]) + "-" +
             std::to_string(l[1]);
    };
    limits("Y", file.lumaLimits);
    limits("CbCr", file.chromaLimits);
    limits("RGB", file.rgbLimits);
    t += " at " + std::to_string(file.sourceMeasured ? file.bits : kByteBits) + " bits";
    t += !rule.area.isZero() ? ", more than " + fixed(rule.area.value(), 2) + " % of a frame" : ", any pixel";
    // The limits are those of SDR video: said so, not left to be assumed.
    return t + (file.hdrTransfer.empty()
                    ? ""
                    : ", on the " + file.hdrTransfer + " signal's code values as if SDR");
}

std::string framesText(const FileReport& file) {
    std::string t = std::to_string(file.frames.size());
    if (file.missing.empty()) return t;
    const int64_t damaged = file.damagedCount(), lost = static_cast<int64_t>(file.missing.size()) - damaged;
    return t + ", " + std::to_string(file.missing.size()) + " missing: " + std::to_string(damaged) +
           " damaged and left out, " + std::to_string(lost) + " lost";
}

std::string missingText(const FileReport& file, size_t most) {
    std::string t;
    size_t runs = 0;
    const std::vector<MissingFrame>& m = file.missing;
    for (size_t i = 0, j = 0; i < m.size(); i = j) {
        for (j = i + 1; j < m.size() && m[j].frame == m[j - 1].frame + 1 && m[j].damaged == m[i].damaged;)
            ++j;
        if (++runs > most) continue;
        const MissingFrame& last = m[j - 1];
        t += std::string(t.empty() ? "" : ", ") + std::to_string(m[i].frame) +
             (j - i > 1 ? "-" + std::to_string(last.frame) : "") + " at " + fixed(m[i].time, kTimeDecimals) +
             (j - i > 1 ? "-" + fixed(last.time, kTimeDecimals) : "") + " s " + missingWhy(m[i]);
    }
    if (runs > most) t += " and " + std::to_string(runs - most) + " more";
    return t;
}

std::string csvText(const std::vector<FileReport>& files) {
    std::string out;
    for (const char* c : kColumns) out += std::string(out.empty() ? "" : ",") + c;
    for (const char* c : kSourceColumns) out += std::string(",") + c;
    out += std::string(",") + kTimecodeColumn + "," + kFindingsColumn + "\n";
    for (const FileReport& file : files) {
        if (!file.error.empty()) {
            // Its own row: the name, and why in the column that says why a frame has no numbers.
            out += csvField(file.input) + std::string(kMeasureColumns, ',') +
                   csvField(std::string(kUnreadable) + ": " + file.error) +
                   std::string(std::size(kSourceColumns) + 2, ',') + "\n";
            continue;
        }
        const std::string findings = "," + csvField(findingsText(file));
        // The missing frames in their places, with only their number, time and why.
        auto missing = file.missing.begin();
        const auto missingUpTo = [&](int64_t frame) {
            for (; missing != file.missing.end() && missing->frame < frame; ++missing) {
                out += csvField(file.input) + "," + std::to_string(missing->frame) + "," +
                       fixed(missing->time, kTimeDecimals) + std::string(kMeasureColumns - 3, ',') + "," +
                       missingWhy(*missing) + std::string(std::size(kSourceColumns) + 1, ',') +
                       timecodeAt(file.startTimecode, file.fps, missing->frame) + findings + "\n";
            }
        };
        for (const FrameNumbers& f : file.frames) {
            missingUpTo(f.frame);
            const std::vector<std::string> v = frameValues(file, f, false);
            for (size_t i = 0; i < v.size(); ++i) out += (i > 0 ? "," : "") + v[i];
            out += ",";  // not missing
            for (const std::string& value : sourceValues(f)) out += "," + value;
            out += "," + timecodeAt(file.startTimecode, file.fps, f.frame) + findings + "\n";
        }
        missingUpTo(INT64_MAX);
    }
    return out;
}

const char* kivrelVersion() { return KIVREL_VERSION; }

std::vector<std::string> jsonFrameKeys() {
    std::vector<std::string> keys(std::begin(kColumns), std::begin(kColumns) + kMeasureColumns);
    keys.insert(keys.end(), std::begin(kSourceColumns), std::end(kSourceColumns));
    keys.emplace_back(kTimecodeColumn);
    return keys;
}

namespace {

// The rules --fail-on names, as the JSON lists them: "hot", "range", "damaged".
std::string failOnText(const ReportRules& rules) {
    std::string out;
    for (const auto& [on, name] : {std::pair{rules.failOnHot, "hot"}, std::pair{rules.failOnRange, "range"},
                                   std::pair{rules.failOnDamaged, "damaged"}})
        if (on) out += std::string(out.empty() ? "" : ", ") + "\"" + name + "\"";
    return out;
}

}  // namespace

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
    bool unreadable = false;
    for (const FileReport& f : files) {
        legal = legal && !f.breaksHot() && !f.breaksRange();
        unreadable = unreadable || !f.error.empty();
    }
    out += "    \"verdict\": " +
           jsonString(!legal       ? "breaks rules"
                      : unreadable ? std::string(kUnreadable)
                                   : "legal") +
           ",\n";
    // The version and the rules: what --merge asks of reports made elsewhere.
    out += "    \"version\": " + jsonString(kivrelVersion()) + ",\n";
    out += "    \"rules\": " + rulesText(rules) + ",\n";
    out += "    \"files\": [";
    for (size_t i = 0; i < files.size(); ++i) {
        const FileReport& f = files[i];
        if (!f.error.empty()) {
            out += std::string(i > 0 ? "," : "") + "\n      {\"input\": " + jsonString(f.input) +
                   ", \"verdict\": " + jsonString(kUnreadable) + ", \"error\": " + jsonString(f.error) + "}";
            continue;
        }
        out += std::string(i > 0 ? "," : "") + "\n      {\"input\": " + jsonString(f.input) +
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
               ",\n       \"settings\": " + jsonString(f.filterSettings) +
               ", \"width\": " + std::to_string(f.w) + ", \"height\": " + std::to_string(f.h) +
               // What the frames' shares are of: --merge counts their pixels from them.
               ", \"frame_pixels\": " + std::to_string(f.frames.empty() ? 0 : f.frames.front().pixels) +
               ",\n       \"hot_ranges\": " + rangesJson(f.hotRanges) +
               ",\n       \"range_ranges\": " + rangesJson(f.rangeRanges) + ",\n       \"worst\": {";
        for (int m = 0; m < kWorstMeasureCount; ++m) {
            out += std::string(m > 0 ? ", " : "") + jsonString(kWorstMeasureKeys[m]) + ": ";
            if (f.worst[m] < 0) {
                out += "null";
                continue;
            }
            const FrameNumbers& w = f.frames[f.worst[m]];
            const double share = m == kWorstHot       ? w.hotPercent()
                                 : m == kWorstBelow16 ? w.below16Percent()
                                                      : w.above235Percent();
            out += "{\"frame\": " + std::to_string(w.frame) + ", \"time\": " + fixed(w.time, kTimeDecimals) +
                   ", \"value\": " + fixed(share, kPercentDecimals) + "}";
        }
        out += "}}";
    }
    out += "\n    ]\n  },\n  \"frames\": [";
    bool first = true;
    for (const FileReport& file : files)
        for (const FrameNumbers& f : file.frames) {
            const std::vector<std::string> v = frameValues(file, f, true);
            out += std::string(first ? "" : ",") + "\n    {";
            // Missing frames are listed with the file's summary.
            for (size_t i = 0; i < v.size(); ++i)
                out += std::string(i > 0 ? ", " : "") + "\"" + kColumns[i] + "\": " + v[i];
            const std::vector<std::string> source = sourceValues(f);
            for (size_t i = 0; i < source.size(); ++i)
                out += std::string(", \"") + kSourceColumns[i] + "\": " + source[i];
            const std::string timecode = timecodeAt(file.startTimecode, file.fps, f.frame);
            out += std::string(", \"") + kTimecodeColumn +
                   "\": " + (timecode.empty() ? "null" : jsonString(timecode));
            out += "}";
            first = false;
        }
    return out + "\n  ]\n}\n";
}

std::string regionText(const CropRegion& r) {
    return std::to_string(r.w) + "×" + std::to_string(r.h) + " at " + std::to_string(r.x) + "," +
           std::to_string(r.y) + " (FFmpeg's crop=" + std::to_string(r.w) + ":" + std::to_string(r.h) + ":" +
           std::to_string(r.x) + ":" + std::to_string(r.y) + ")";
}

std::string summaryTable(const ReportOptions& options, const std::vector<FileReport>& files) {
    std::string out;
    char line[512];
    for (const FileReport& f : files) {
        if (!f.error.empty()) {
            out += f.input + "\n  " + padded("verdict") + " " + kUnreadable + ": " + f.error + "\n";
            continue;
        }
        std::snprintf(line, sizeof line, "%s\n  %-26s %s\n  %-26s %s\n  %-26s %s\n  %-26s %lld\n",
                      f.input.c_str(), "input", assumedText(f).c_str(), "filter settings",
                      f.filterSettings.c_str(), "frames", framesText(f).c_str(), "frames with hot pixels",
                      static_cast<long long>(f.framesWithHot));
        out += line;
        if (const std::string found = findingsText(f); !found.empty())
            out += "  " + padded("findings") + " " + found + "\n";
        if (f.cropped) out += "  " + padded("region measured") + " " + regionText(f.region) + "\n";
        if (!f.startTimecode.empty()) out += "  " + padded("start timecode") + " " + f.startTimecode + "\n";
        if (!f.missing.empty())
            out += "  " + padded("missing frames") + " " + missingText(f, kMostMissingRuns) + "\n";
        auto ranges = [&](const char* name, const std::vector<TimeRange>& rs) {
            std::string text;
            for (const TimeRange& r : rs) {
                if (!text.empty()) text += ", ";
                text += fixed(r.start, 2) + "-" + fixed(r.end, 2) + " s";
            }
            std::snprintf(line, sizeof line, "  %-26s %s\n", name, text.empty() ? "none" : text.c_str());
            out += line;
        };
        ranges(("hot over " + fixed(options.rules.maxHot.value(), 2) + " %").c_str(), f.hotRanges);
        if (options.rules.studioRange) {
            out += "  " + padded("range rule") + " " + rangeRuleText(options.rules.range, f) + "\n";
            ranges("outside the range rule", f.rangeRanges);
        }
        for (int m = 0; m < kWorstMeasureCount; ++m) {
            if (f.worst[m] < 0) continue;
            const FrameNumbers& w = f.frames[f.worst[m]];
            const double share = worstMeasurePercent(w, m);
            std::snprintf(line, sizeof line, "  %-26s frame %lld at %s s, %s %%\n", kWorstMeasureNames[m],
                          static_cast<long long>(w.frame), fixed(w.time, 3).c_str(), fixed(share, 4).c_str());
            out += line;
        }
        std::snprintf(line, sizeof line, "  %-26s %s\n", "verdict", verdictOf(f).c_str());
        out += line;
    }
    if (files.size() > 1) {
        size_t broken = 0;
        for (const FileReport& f : files) broken += verdictOf(f) == "legal" ? 0 : 1;
        std::snprintf(line, sizeof line, "overall: %zu of %zu files legal\n", files.size() - broken,
                      files.size());
        out += line;
    }
    return out;
}
