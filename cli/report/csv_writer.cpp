// The CSV: a row per frame, the missing ones in their places, and a row for
// each file that cannot be read, in the columns' order.
#include <cstdint>

#include "report/file_phrases.h"
#include "report/report_writers.h"
#include "report/timecode.h"
#include "report/value_text.h"

namespace {

// One row: `value` of every column, in order.
template <typename Value>
std::string row(Value value) {
    std::string out;
    for (const ReportColumn& c : kReportColumns) out += (&c == kReportColumns ? "" : ",") + value(c);
    return out + "\n";
}

}  // namespace

std::string csvText(const std::vector<FileReport>& files) {
    std::string out = row([](const ReportColumn& c) { return std::string(c.key); });
    for (const FileReport& file : files) {
        const std::string input = csvField(file.input);
        if (!file.error.empty()) {
            // Its own row: the name, and why in the column that says why a frame has no numbers.
            out += row([&](const ReportColumn& c) {
                return c.form == ColumnForm::Input     ? input
                       : c.form == ColumnForm::Missing ? csvField(file.failure + ": " + file.error)
                                                       : std::string();
            });
            continue;
        }
        const std::string findings = csvField(findingsText(file));
        // What every row of the file has: its name, its timecode, the findings.
        const auto fileValue = [&](const ReportColumn& c, int64_t frame) {
            switch (c.form) {
            case ColumnForm::Input: return input;
            case ColumnForm::Timecode: return timecodeAt(file.startTimecode, file.fps, frame);
            case ColumnForm::Findings: return findings;
            default: return std::string();
            }
        };
        // The missing frames in their places, with only their number, time and why.
        auto missing = file.missing.begin();
        const auto missingUpTo = [&](int64_t frame) {
            for (; missing != file.missing.end() && missing->frame < frame; ++missing) {
                out += row([&](const ReportColumn& c) {
                    switch (c.form) {
                    case ColumnForm::Frame: return std::to_string(missing->frame);
                    case ColumnForm::Time: return fixed(missing->time, kTimeDecimals);
                    case ColumnForm::Missing: return std::string(missingWhy(*missing));
                    default: return fileValue(c, missing->frame);
                    }
                });
            }
        };
        for (const FrameNumbers& f : file.frames) {
            missingUpTo(f.frame);
            out += row([&](const ReportColumn& c) {
                return ofFrameNumbers(c) ? numberText(c, f) : fileValue(c, f.frame);
            });
        }
        missingUpTo(INT64_MAX);
    }
    return out;
}
