// kivrel report --merge: per-file JSON reports, made on any machine by the
// same kivrel with the same rules, read back into the reports a single run
// over those files would have made, without reading any media again.
#pragma once

#include <string>
#include <vector>

#include "pluginhost/status.h"
#include "report/report_data.h"

// Reads the JSON reports at `paths` in that order; their files, in order,
// go to `files`, the rules and settings they share to `rules` and
// `settings`. Fails on a report that is not one of ours, of another version,
// judged by other rules or measured with other settings, or on an input
// that two reports hold.
Status mergeReports(const std::vector<std::string>& paths, ReportRules& rules, MeasureSettings& settings,
                    std::vector<FileReport>& files);
