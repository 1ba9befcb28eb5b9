// The page's charts: a file's frames gathered into columns and drawn as
// inline SVG steps, with the levels and the ranges that break a rule.
#include "report/page_charts.h"

#include <algorithm>

#include "input/colour_standards.h"
#include "report/file_phrases.h"
#include "report/percent_limit.h"
#include "report/value_text.h"

namespace {

// Chart geometry, in SVG user units (the chart scales to the page's width).
constexpr int kChartWidth = 960;
constexpr int kChartHeight = 130;
constexpr int kPlotLeft = 52;  // room for the level labels ("0.014 %")
constexpr int kPlotRight = kChartWidth - 8;
constexpr int kPlotTop = 8;
constexpr int kPlotBottom = kChartHeight - 22;    // room for the time labels
constexpr int kColumns = kPlotRight - kPlotLeft;  // frames are gathered into this many columns at most
constexpr int kTopLevel = kFullWhiteCode;
constexpr double kFineLevel = 0.1;  // grid levels below this (small shares) get a third decimal

std::string num(double v) { return fixed(v, 1); }

// Frames gathered into columns: each column's extremes and mean.
struct Column {
    double avd = 0.0;
    int lo = kTopLevel, hi = 0;
    double hot = 0.0, outside = 0.0;  // the highest shares in the column, so no spike is lost
};

std::vector<Column> columnsOf(const FileReport& f) {
    const size_t n = f.frames.size();
    const size_t count = std::min<size_t>(n, kColumns);
    std::vector<Column> cols(count);
    std::vector<int> members(count, 0);
    for (size_t i = 0; i < n; ++i) {
        const size_t c = i * count / n;
        const FrameNumbers& fr = f.frames[i];
        cols[c].avd += fr.avd;
        cols[c].lo = std::min(cols[c].lo, fr.lowest[kLuma]);
        cols[c].hi = std::max(cols[c].hi, fr.highest[kLuma]);
        cols[c].hot = std::max(cols[c].hot, fr.hotPercent());
        cols[c].outside = std::max(cols[c].outside, fr.outsidePercent());
        ++members[c];
    }
    for (size_t c = 0; c < count; ++c) cols[c].avd /= std::max(1, members[c]);
    return cols;
}

// Where column `column` of `count` begins; each holds its value for its whole width.
double xOf(size_t column, size_t count) {
    return kPlotLeft +
           static_cast<double>(column) * kColumns / static_cast<double>(std::max<size_t>(count, 1));
}

double yOf(double v, double top) { return kPlotBottom - v / top * (kPlotBottom - kPlotTop); }

// A value per column as steps: level across each column, upright between
// them, so no value between two frames is drawn that neither had.
// Backwards (right to left) for a band's lower edge; `line` starts a path.
std::string steps(const std::vector<double>& ys, bool backwards, bool line) {
    const size_t n = ys.size();
    std::string d;
    for (size_t k = 0; k < n; ++k) {
        const size_t c = backwards ? n - 1 - k : k;
        const double from = xOf(backwards ? c + 1 : c, n), to = xOf(backwards ? c : c + 1, n);
        d += k == 0 && line ? "M" + num(from) + "," + num(ys[c]) : "V" + num(ys[c]);
        d += "H" + num(to);
    }
    return d;
}

std::string lineAt(double y) {
    const std::string at = num(y);
    return "<line class=\"limit\" x1=\"" + std::to_string(kPlotLeft) + "\" x2=\"" +
           std::to_string(kPlotRight) + "\" y1=\"" + at + "\" y2=\"" + at + "\"/>";
}

std::string levelLabel(double y, const std::string& text) {
    return "<text class=\"lvl\" x=\"" + std::to_string(kPlotLeft - 4) + "\" y=\"" + num(y + 3) + "\">" +
           text + "</text>";
}

// A grid level as few decimals show it apart from its neighbours.
std::string levelText(double g) { return fixed(g, g == 0 || g >= 10 ? 0 : g < kFineLevel ? 3 : 2); }

// Frame axis, the level grid and the shaded ranges that break a rule; the
// axis ends name the first and last frame's times.
std::string chartFrame(const FileReport& f, const std::vector<TimeRange>& shaded, double top,
                       const std::vector<double>& gridLevels, const char* unit) {
    std::string s;
    const FrameNumbers &firstFrame = f.frames.front(), &lastFrame = f.frames.back();
    const double first = firstFrame.time, last = lastFrame.time;
    const double span = last > first ? last - first : 1.0;
    for (const TimeRange& r : shaded) {
        const double x0 = kPlotLeft + (r.start - first) / span * kColumns;
        const double x1 = std::min<double>(kPlotRight, kPlotLeft + (r.end - first) / span * kColumns);
        s += "<rect class=\"bad\" x=\"" + num(x0) + "\" y=\"" + std::to_string(kPlotTop) + "\" width=\"" +
             num(std::max(1.0, x1 - x0)) + "\" height=\"" + std::to_string(kPlotBottom - kPlotTop) + "\"/>";
    }
    for (double g : gridLevels) {
        const std::string y = num(yOf(g, top));
        s += "<line class=\"grid\" x1=\"" + std::to_string(kPlotLeft) + "\" x2=\"" +
             std::to_string(kPlotRight) + "\" y1=\"" + y + "\" y2=\"" + y + "\"/>" +
             levelLabel(yOf(g, top), levelText(g) + unit);
    }
    s += "<line class=\"axis\" x1=\"" + std::to_string(kPlotLeft) + "\" x2=\"" + std::to_string(kPlotRight) +
         "\" y1=\"" + std::to_string(kPlotBottom) + "\" y2=\"" + std::to_string(kPlotBottom) + "\"/>";
    s += "<text class=\"time\" x=\"" + std::to_string(kPlotLeft) + "\" y=\"" +
         std::to_string(kChartHeight - 6) + "\">" + timeText(f, first, firstFrame.frame) +
         "</text><text class=\"time end\" x=\"" + std::to_string(kPlotRight) + "\" y=\"" +
         std::to_string(kChartHeight - 6) + "\">" + timeText(f, last, lastFrame.frame) + "</text>";
    return s;
}

std::string svgOpen(const std::string& id, const std::string& title) {
    return "<figure class=\"chart\"><figcaption>" + htmlEscaped(title) + "</figcaption><svg id=\"" + id +
           "\" viewBox=\"0 0 " + std::to_string(kChartWidth) + " " + std::to_string(kChartHeight) +
           "\" role=\"img\" aria-label=\"" + htmlEscaped(title) + "\">";
}

// A share of each frame's pixels (hot, outside the range rule) against the
// rule's limit: the ranges that break it shaded, the limit as a line.
std::string shareChart(const std::string& id, const std::string& title, const FileReport& f,
                       const std::vector<TimeRange>& shaded, const std::vector<double>& shares,
                       const PercentLimit& limit, const char* pathClass) {
    double top = 0.0;
    for (double v : shares) top = std::max(top, v);
    top = std::max({top * 1.1, limit.value() * 1.1, 0.01});
    std::string s = svgOpen(id, title) + chartFrame(f, shaded, top, {0, top / 2, top}, " %");
    std::vector<double> ys;
    for (double v : shares) ys.push_back(yOf(v, top));
    s += "<path class=\"" + std::string(pathClass) + "\" d=\"" + steps(ys, false, true) + "\"/>";
    if (!limit.isZero()) s += lineAt(yOf(limit.value(), top));
    return s + "</svg></figure>";
}

}  // namespace

std::string pageCharts(const FileReport& f, const ReportRules& rules, size_t index) {
    const std::vector<Column> cols = columnsOf(f);
    const std::string suffix = "-" + std::to_string(index);
    std::string s;
    // Average luma.
    s += svgOpen("avd" + suffix, "The filter's average luma (AVD) per frame");
    s += chartFrame(f, {}, kTopLevel, {kLumaBlackCode, 128, kLumaWhiteCode}, "");
    std::vector<double> ys;
    for (const Column& c : cols) ys.push_back(yOf(c.avd, kTopLevel));
    s += "<path class=\"avd\" d=\"" + steps(ys, false, true) + "\"/></svg></figure>";
    // The band of luma present, with the studio limits.
    s += svgOpen("band" + suffix,
                 "The filter's lowest to highest luma per frame, at its settings; lines at 16 and 235; "
                 "shaded: frames outside the range rule");
    s += chartFrame(f, rules.studioRange ? f.rangeRanges : std::vector<TimeRange>{}, kTopLevel,
                    {64, 128, 192}, "");
    std::vector<double> upper, lower;
    for (const Column& c : cols) {
        upper.push_back(yOf(c.hi, kTopLevel));
        lower.push_back(yOf(c.lo, kTopLevel));
    }
    s += "<path class=\"band\" d=\"" + steps(upper, false, true) + steps(lower, true, false) + "Z\"/>";
    for (int level : {kLumaBlackCode, kLumaWhiteCode})
        s += lineAt(yOf(level, kTopLevel)) + levelLabel(yOf(level, kTopLevel), std::to_string(level));
    s += "</svg></figure>";
    std::vector<double> hot, outside;
    for (const Column& c : cols) {
        hot.push_back(c.hot);
        outside.push_back(c.outside);
    }
    s += shareChart("hot" + suffix, "The filter's hot pixels per frame, % of the picture", f, f.hotRanges,
                    hot, rules.maxHot, "hot");
    if (rules.studioRange)
        s += shareChart("outside" + suffix,
                        "The source's pixels outside the range rule per frame, % of the picture" +
                            std::string(rules.range.area.isZero() ? "" : "; line at the rule's area limit") +
                            "; shaded: frames that break it",
                        f, f.rangeRanges, outside, rules.range.area, "outside");
    return s;
}
