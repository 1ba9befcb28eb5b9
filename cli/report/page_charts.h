// The charts of a file's section on the report page.
#pragma once

#include <cstddef>
#include <string>

#include "report/report_data.h"

// Average luma, the luma band, hot pixels and (with a range rule) the share
// outside it, per frame, as SVG figures; `index` keeps their ids apart
// between the page's files.
std::string pageCharts(const FileReport& f, const ReportRules& rules, size_t index);
