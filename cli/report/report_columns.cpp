#include "report/report_columns.h"

#include "report/value_text.h"

std::string numberText(const ReportColumn& column, const FrameNumbers& f) {
    switch (column.form) {
    case ColumnForm::Frame: return std::to_string(f.frame);
    case ColumnForm::Time: return fixed(f.time, kTimeDecimals);
    case ColumnForm::Count:
    case ColumnForm::Level: return std::to_string(column.field.get(f));
    case ColumnForm::Share:
    case ColumnForm::ShareOfCount: return percentText(f.share(column.field.get(f)));
    default: return {};
    }
}
