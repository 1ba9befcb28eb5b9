// The column table's rows against each other: every number column reads
// and writes a field of its own (a row copied and left pointing at its
// neighbour's field would write one value twice and lose another), and a
// share of a count has exactly one column that holds that count.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "report/report_columns.h"

namespace {

constexpr int64_t kMark = 1000;  // far from every default a frame's record starts with (0, -1)

bool ownsField(const ReportColumn& c) {
    return ofFrameNumbers(c) && c.field.get != nullptr && c.form != ColumnForm::ShareOfCount;
}

}  // namespace

TEST(ReportColumns, EveryNumberColumnHasAFieldOfItsOwn) {
    int checked = 0;
    for (const ReportColumn& c : kReportColumns) {
        if (!ownsField(c)) continue;
        SCOPED_TRACE(c.key);
        FrameNumbers f;
        c.field.set(f, kMark);
        EXPECT_EQ(c.field.get(f), kMark);
        for (const ReportColumn& other : kReportColumns)
            if (&other != &c && ownsField(other)) {
                EXPECT_NE(other.field.get(f), kMark) << other.key;
            }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(ReportColumns, EveryShareOfACountHasItsCountColumn) {
    for (const ReportColumn& share : kReportColumns) {
        if (share.form != ColumnForm::ShareOfCount) continue;
        SCOPED_TRACE(share.key);
        FrameNumbers f;
        share.field.set(f, kMark);
        int counts = 0;
        for (const ReportColumn& c : kReportColumns)
            counts += c.form == ColumnForm::Count && c.field.get(f) == kMark ? 1 : 0;
        EXPECT_EQ(counts, 1);
    }
}

TEST(ReportColumns, KeysAreUniqueAndWorstMeasuresAreShares) {
    std::set<std::string> keys;
    for (const ReportColumn& c : kReportColumns) EXPECT_TRUE(keys.insert(c.key).second) << c.key;
    for (const ReportColumn* w : kWorstMeasures) {
        SCOPED_TRACE(w->key);
        EXPECT_TRUE(w->form == ColumnForm::Share || w->form == ColumnForm::ShareOfCount);
        EXPECT_TRUE(inJson(*w));  // the JSON keeps the worst frame under the column's key
    }
}
