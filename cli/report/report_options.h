// The command line of `kivrel report`: the render command's options for
// reading, frame selection and settings, several inputs, and the report's
// own rules.
#pragma once

#include <string>

#include "pluginhost/status.h"
#include "report/report_data.h"

// argv[0] is "report". `help` is set for -h/--help.
Status parseReportCommandLine(int argc, const char* const* argv, ReportOptions& options, bool& help);

std::string reportHelpText();
