// The summary table for the terminal: per file what was assumed, the
// ranges that break a rule, the worst frames and the verdict.
#include <cstdio>

#include "report/file_phrases.h"
#include "report/report_writers.h"
#include "report/value_text.h"

namespace {

constexpr size_t kMostMissingRuns = 20;  // in the table; the CSV and JSON list every frame
constexpr size_t kLabelWidth = 26;       // the table's labels, as %-26s

std::string padded(const std::string& label) {
    return label + std::string(label.size() < kLabelWidth ? kLabelWidth - label.size() : 0, ' ');
}

}  // namespace

std::string summaryTable(const ReportOptions& options, const std::vector<FileReport>& files) {
    std::string out;
    char line[512];
    for (const FileReport& f : files) {
        if (!f.error.empty()) {
            out += f.input + "\n  " + padded("verdict") + " " + f.failure + ": " + f.error + "\n";
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
            std::snprintf(line, sizeof line, "  %-26s frame %lld at %s s, %s %%\n",
                          kWorstMeasures[m]->worstName, static_cast<long long>(w.frame),
                          fixed(w.time, 3).c_str(), fixed(share, 4).c_str());
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
