// The report's columns, one row each: the CSV header and JSON key, where a
// frame's record keeps the value, what kind of value it is (which says how
// the CSV and JSON write it and how --merge reads it back), and, for a
// measure whose worst frame the summary names, its name there. A new column
// is a new row (and, for a new number, a field of FrameNumbers).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <type_traits>

#include "report/frame_numbers.h"

// Where a frame's record keeps a column's whole number, whatever its width.
struct FrameField {
    int64_t (*get)(const FrameNumbers&) = nullptr;
    void (*set)(FrameNumbers&, int64_t) = nullptr;
};

namespace frame_field {
template <auto Member>
int64_t get(const FrameNumbers& f) {
    return f.*Member;
}
template <auto Member>
void set(FrameNumbers& f, int64_t v) {
    f.*Member = static_cast<std::remove_reference_t<decltype(f.*Member)>>(v);
}
template <auto Array, int Index>
int64_t getAt(const FrameNumbers& f) {
    return (f.*Array)[Index];
}
template <auto Array, int Index>
void setAt(FrameNumbers& f, int64_t v) {
    (f.*Array)[Index] = static_cast<std::remove_reference_t<decltype((f.*Array)[Index])>>(v);
}
}  // namespace frame_field

// A member of FrameNumbers, and an element of one of its arrays.
template <auto Member>
inline constexpr FrameField kField = {frame_field::get<Member>, frame_field::set<Member>};
template <auto Array, int Index>
inline constexpr FrameField kFieldAt = {frame_field::getAt<Array, Index>, frame_field::setAt<Array, Index>};

// What a column holds.
enum class ColumnForm {
    Input,  // the file's name; --merge holds it to the file's
    Frame,  // the frame's number in the source: a missing frame has one too
    Time,   // its presentation time in seconds: a missing frame has one too
    Count,  // a whole number of pixels, written and read back as it is
    Level,  // a level or code value, -1 for none: 32 bits, written and read back as it is
    // A share of the frame's pixels, in percent: the share of the count the
    // field holds. --merge counts the pixels back from it, so its share must
    // print as written.
    Share,
    // The same of a count a column of its own holds: --merge checks the two agree.
    ShareOfCount,
    Missing,   // why a frame, or a whole file, has no numbers: the CSV's alone
    Timecode,  // the frame's own timecode from the file's start timecode; none without one
    Findings,  // what the report finds about the frame's file (findingsText): the CSV's alone
};

// The rule a worst frame stands for: the page pictures it only while that rule is judged.
enum class WorstFor { HotRule, RangeRule };

struct ReportColumn {
    const char* key;  // the CSV header and the JSON key
    ColumnForm form;
    FrameField field = {};  // Count, Level, Share and ShareOfCount
    // Of a Share: the summary's name for its worst frame (the first with the
    // largest share), which the summary and the page print and the JSON
    // keeps under the column's key. Nullptr: no worst frame named.
    const char* worstName = nullptr;
    WorstFor worstFor = WorstFor::HotRule;
};

// Every column in the CSV's order; the JSON's frames leave out the CSV's alone.
inline constexpr ReportColumn kReportColumns[] = {
    {"input", ColumnForm::Input},
    {"frame", ColumnForm::Frame},
    {"time", ColumnForm::Time},
    {"avd", ColumnForm::Level, kField<&FrameNumbers::avd>},
    {"luma_min", ColumnForm::Level, kFieldAt<&FrameNumbers::lowest, kLuma>},
    {"luma_max", ColumnForm::Level, kFieldAt<&FrameNumbers::highest, kLuma>},
    {"red_min", ColumnForm::Level, kFieldAt<&FrameNumbers::lowest, kRed>},
    {"red_max", ColumnForm::Level, kFieldAt<&FrameNumbers::highest, kRed>},
    {"green_min", ColumnForm::Level, kFieldAt<&FrameNumbers::lowest, kGreen>},
    {"green_max", ColumnForm::Level, kFieldAt<&FrameNumbers::highest, kGreen>},
    {"blue_min", ColumnForm::Level, kFieldAt<&FrameNumbers::lowest, kBlue>},
    {"blue_max", ColumnForm::Level, kFieldAt<&FrameNumbers::highest, kBlue>},
    {"hot_pixels", ColumnForm::Count, kField<&FrameNumbers::hotPixels>},
    {"hot_percent", ColumnForm::ShareOfCount, kField<&FrameNumbers::hotPixels>, "most hot pixels"},
    {"below16_percent", ColumnForm::Share, kField<&FrameNumbers::below16>, "most source luma below 16",
     WorstFor::RangeRule},
    {"above235_percent", ColumnForm::Share, kField<&FrameNumbers::above235>, "most source luma above 235",
     WorstFor::RangeRule},
    {"source_luma_min", ColumnForm::Level, kField<&FrameNumbers::sourceLowest>},
    {"source_luma_max", ColumnForm::Level, kField<&FrameNumbers::sourceHighest>},
    {"missing", ColumnForm::Missing},
    // The source's own code values at its depth, and the share of its
    // pixels outside the range rule.
    {"src_y_min", ColumnForm::Level, kFieldAt<&FrameNumbers::srcLowest, kSourceY>},
    {"src_y_max", ColumnForm::Level, kFieldAt<&FrameNumbers::srcHighest, kSourceY>},
    {"src_cb_min", ColumnForm::Level, kFieldAt<&FrameNumbers::srcLowest, kSourceCb>},
    {"src_cb_max", ColumnForm::Level, kFieldAt<&FrameNumbers::srcHighest, kSourceCb>},
    {"src_cr_min", ColumnForm::Level, kFieldAt<&FrameNumbers::srcLowest, kSourceCr>},
    {"src_cr_max", ColumnForm::Level, kFieldAt<&FrameNumbers::srcHighest, kSourceCr>},
    {"src_r_min", ColumnForm::Level, kFieldAt<&FrameNumbers::srcLowest, kSourceR>},
    {"src_r_max", ColumnForm::Level, kFieldAt<&FrameNumbers::srcHighest, kSourceR>},
    {"src_g_min", ColumnForm::Level, kFieldAt<&FrameNumbers::srcLowest, kSourceG>},
    {"src_g_max", ColumnForm::Level, kFieldAt<&FrameNumbers::srcHighest, kSourceG>},
    {"src_b_min", ColumnForm::Level, kFieldAt<&FrameNumbers::srcLowest, kSourceB>},
    {"src_b_max", ColumnForm::Level, kFieldAt<&FrameNumbers::srcHighest, kSourceB>},
    {"outside_percent", ColumnForm::Share, kField<&FrameNumbers::outside>},
    {"timecode", ColumnForm::Timecode},
    {"findings", ColumnForm::Findings},
};

// Whether the JSON's frames hold the column (the CSV holds them all).
constexpr bool inJson(const ReportColumn& c) {
    return c.form != ColumnForm::Missing && c.form != ColumnForm::Findings;
}

// Whether the column's value is one of the frame's numbers, not its file's.
constexpr bool ofFrameNumbers(const ReportColumn& c) {
    return c.form != ColumnForm::Input && c.form != ColumnForm::Missing && c.form != ColumnForm::Timecode &&
           c.form != ColumnForm::Findings;
}

// The measures the summary names the worst frame of, in the table's order.
inline constexpr int kWorstMeasureCount =
    static_cast<int>(std::count_if(std::begin(kReportColumns), std::end(kReportColumns),
                                   [](const ReportColumn& c) { return c.worstName != nullptr; }));
inline constexpr std::array<const ReportColumn*, kWorstMeasureCount> kWorstMeasures = [] {
    std::array<const ReportColumn*, kWorstMeasureCount> out{};
    auto next = out.begin();
    for (const ReportColumn& c : kReportColumns)
        if (c.worstName != nullptr) *next++ = &c;
    return out;
}();

// The frame's share of pixels by worst measure `m`.
inline double worstMeasurePercent(const FrameNumbers& f, int m) {
    return f.share(kWorstMeasures[m]->field.get(f));
}

// A measured frame's value in a column of its numbers, as the CSV and the
// JSON write it; "" for a column of its file's.
std::string numberText(const ReportColumn& column, const FrameNumbers& f);
