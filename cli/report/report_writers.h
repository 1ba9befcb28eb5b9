// The report's forms: CSV and JSON for scripts, one HTML page for people,
// and a summary table for the terminal. What they all say alike is in
// file_phrases.h and value_text.h; their columns are in report_columns.h.
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
