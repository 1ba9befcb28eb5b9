// The report's forms: CSV and JSON for scripts, one HTML page for people,
// and a summary table for the terminal.
#pragma once

#include <string>
#include <vector>

#include "report/report_data.h"

// The form a report takes, by its output's name: the table without -o,
// CSV and JSON by extension, the HTML page otherwise.
enum class ReportForm { Table, Csv, Json, Html };
ReportForm reportFormFor(const std::string& output);
// The form of this run's report: -f for standard output (-o -), else by name.
ReportForm reportFormOf(const ReportOptions& options);
inline constexpr const char* kStandardOutput = "-";

std::string csvText(const std::vector<FileReport>& files);
std::string jsonText(const ReportOptions& options, const std::vector<FileReport>& files);
std::string htmlText(const ReportOptions& options, const std::vector<FileReport>& files);
// The rules as the JSON report holds them.
std::string rulesText(const ReportRules& rules);
// The keys of a frame in the JSON report, in order.
std::vector<std::string> jsonFrameKeys();
// The kivrel that writes reports (the JSON names it).
const char* kivrelVersion();

std::string summaryTable(const ReportOptions& options, const std::vector<FileReport>& files);

// Shared by the forms.
std::string fixed(double v, int decimals);
std::string percentText(double share);          // a share as every form prints it
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
// at most `most` runs, then how many more.
std::string missingText(const FileReport& file, size_t most);
// `s` with every byte that is not part of well-formed UTF-8 replaced by
// U+FFFD: file names are bytes, while JSON, CSV readers and the page want text.
std::string validUtf8(const std::string& s);
