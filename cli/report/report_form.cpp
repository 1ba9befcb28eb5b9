#include "report/report_writers.h"

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
