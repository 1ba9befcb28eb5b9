// The report as one self-contained page: inline style, inline SVG charts,
// pictures as data: URIs. Nothing is fetched, nothing runs.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "input/colour_standards.h"
#include "report/file_phrases.h"
#include "report/page_charts.h"
#include "report/percent_limit.h"
#include "report/picture.h"
#include "report/report_writers.h"
#include "report/value_text.h"

namespace {

// The region as a box over the picture, in shares of it, so it lands
// wherever the picture is scaled to.
std::string outline(const FileReport& f) {
    const auto share = [](int32_t v, int32_t of) { return fixed(100.0 * v / std::max(of, 1), 3) + "%"; };
    const CropRegion& r = f.region;
    return "<div class=\"roi\" title=\"the region measured\" style=\"left:" + share(r.x, f.w) +
           ";top:" + share(r.y, f.h) + ";width:" + share(r.w, f.w) + ";height:" + share(r.h, f.h) +
           "\"></div>";
}

// The measured frame of that number, or nullptr (the frames are in order).
const FrameNumbers* frameNumbered(const FileReport& f, int64_t number) {
    const auto at = std::lower_bound(f.frames.begin(), f.frames.end(), number,
                                     [](const FrameNumbers& fr, int64_t n) { return fr.frame < n; });
    return at != f.frames.end() && at->frame == number ? &*at : nullptr;
}

constexpr size_t kMostRangeRows = 30;  // per rule; the CSV and JSON hold them all

std::string rangeRows(const FileReport& f, const char* rule, const std::vector<TimeRange>& ranges) {
    std::string s;
    for (size_t i = 0; i < ranges.size() && i < kMostRangeRows; ++i) {
        const TimeRange& r = ranges[i];
        const FrameNumbers* worst = frameNumbered(f, r.worstFrame);
        const double worstTime = worst != nullptr ? worst->time : r.start;
        s += "<tr><td>" + std::string(rule) + "</td><td>" + timeText(f, r.start, r.firstFrame) + " – " +
             timeText(f, r.end, r.lastFrame + 1) + "</td><td>" + std::to_string(r.firstFrame) + "–" +
             std::to_string(r.lastFrame) + "</td><td>" + std::to_string(r.frames) + "</td><td>" +
             fixed(r.worstPercent, 4) + " % at frame " + std::to_string(r.worstFrame) + ", " +
             timeText(f, worstTime, r.worstFrame) + "</td></tr>";
    }
    if (ranges.size() > kMostRangeRows)
        s += "<tr><td>" + std::string(rule) + "</td><td colspan=\"4\">and " +
             std::to_string(ranges.size() - kMostRangeRows) + " more ranges</td></tr>";
    return s;
}

// In print, every chart and every worst frame's picture and waveform is
// framed, captions and all, in --frame, a colour nothing else on the page
// has, so a test can find each whole on the printed pages.
constexpr const char* kStyle = R"(
:root{--ink:#1d2430;--muted:#5b6575;--line:#d5dae2;--bad:#c62828;--ok:#2e7d32;--amber:#ffb700;--frame:#5a00ff}
*{box-sizing:border-box}
body{font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;color:var(--ink);margin:0 auto;max-width:1180px;padding:20px 28px}
h1{font-size:24px;margin:0 0 4px}h2{font-size:19px;margin:28px 0 6px;border-top:2px solid var(--line);padding-top:14px}
h3{font-size:15px;margin:16px 0 6px}
.sub{color:var(--muted);margin:0 0 12px}
.verdict{display:inline-block;padding:2px 10px;border-radius:12px;font-weight:600;color:#fff;white-space:nowrap}
.verdict.legal{background:var(--ok)}.verdict.breaks{background:var(--bad)}
table{border-collapse:collapse;margin:6px 0 10px}
td,th{border-bottom:1px solid var(--line);padding:3px 12px 3px 0;text-align:left;vertical-align:top}
th{color:var(--muted);font-weight:600}
.overview{width:100%}.overview td:first-child{max-width:460px}
code{font:12px/1.3 ui-monospace,"DejaVu Sans Mono",monospace;word-break:break-all}
.facts td:first-child{color:var(--muted);padding-right:20px}
.charts{display:grid;grid-template-columns:1fr;gap:10px}
figure{margin:0}figcaption{font-size:13px;color:var(--muted)}
svg{width:100%;height:auto;display:block;background:#fbfcfd;border:1px solid var(--line)}
.grid{stroke:#e3e7ed;stroke-width:1}.axis{stroke:#9aa3b0}
.limit{stroke:var(--amber);stroke-width:1.5;stroke-dasharray:5 3}
.bad{fill:var(--bad);fill-opacity:.14}
.avd{fill:none;stroke:#37474f;stroke-width:1.5}
.band{fill:#78909c;fill-opacity:.55;stroke:#455a64;stroke-width:.7}
.hot{fill:none;stroke:var(--bad);stroke-width:1.5}
.outside{fill:none;stroke:#00838f;stroke-width:1.5}
.lvl{font-size:10px;text-anchor:end;fill:var(--muted)}.time{font-size:10px;fill:var(--muted)}.end{text-anchor:end}
.frames{display:grid;grid-template-columns:1fr;gap:14px}
.pair{display:grid;grid-template-columns:minmax(0,2fr) minmax(0,3fr);gap:12px;align-items:start;break-inside:avoid}
.pair img{width:100%;height:auto;display:block;border:1px solid var(--line);image-rendering:pixelated}
.wave{overflow-x:auto}.wave img{background:#000;width:auto;max-width:none}
.shot{position:relative}.roi{position:absolute;border:2px solid var(--amber);box-sizing:border-box}
.note{font-size:13px;color:var(--muted)}
@page{size:A4;margin:14mm}
@media print{body{max-width:none;padding:0;font-size:11px}.note,figcaption{font-size:10px}code{font-size:9px}h2{break-before:auto}h2,h3,.lead{break-after:avoid}
.charts,.frames{display:block}.chart,.pair{break-inside:avoid;margin:0 0 8px}
table{break-inside:avoid}.overview{break-inside:auto}.overview tr{break-inside:avoid}
.chart,.pair{border:3px solid var(--frame);padding:4px}
.wave{overflow:visible}.wave img{width:auto;height:auto;max-width:100%;max-height:170mm}
.verdict{-webkit-print-color-adjust:exact;print-color-adjust:exact}svg{background:#fff}}
)";

}  // namespace

namespace {

std::string anchorOf(size_t index) { return "file-" + std::to_string(index); }

std::string verdictBadge(const std::string& verdict) {
    return "<span class=\"verdict " + std::string(verdict == "legal" ? "legal" : "breaks") + "\">" +
           htmlEscaped(verdict) + "</span>";
}

// What ties the verdict to the file: its size and the MD5 of its bytes.
std::string identityText(const FileReport& f) {
    if (f.fileBytes < 0) return "not a file whose bytes could be read";
    return std::to_string(f.fileBytes) + " bytes, MD5 <code>" + htmlEscaped(f.md5) + "</code>";
}

// The file's picture, rate and length: "h264, 1920×1080, 25.000 fps, 3.000 s".
std::string streamText(const FileReport& f) {
    return htmlEscaped(f.codec.empty() ? std::string("no codec named") : f.codec) + ", " +
           std::to_string(f.w) + "×" + std::to_string(f.h) + ", " + fixed(f.fps, 3) + " fps, " +
           fixed(durationOf(f), kTimeDecimals) + " s";
}

// The frame the overview names: the one with most pixels outside the range
// rule where it is judged and any frame has some, else the one with most hot
// pixels; -1 for none (the first of tied frames).
int overviewWorst(const FileReport& f, const ReportRules& rules, std::string& why) {
    int worst = -1;
    for (size_t i = 0; rules.studioRange && i < f.frames.size(); ++i)
        if (f.frames[i].outside > 0 &&
            (worst < 0 || f.frames[i].outsidePercent() > f.frames[worst].outsidePercent()))
            worst = static_cast<int>(i);
    if (worst >= 0) {
        why = "most outside the range rule";
        return worst;
    }
    for (int m = 0; m < kWorstMeasureCount; ++m)
        if (kWorstMeasures[m]->worstFor == WorstFor::HotRule && f.worst[m] >= 0) {
            why = kWorstMeasures[m]->worstName;
            return f.worst[m];
        }
    return -1;
}

std::string overview(const ReportRules& rules, const std::vector<FileReport>& files) {
    std::string s =
        "<table id=\"overview\" class=\"overview\"><tr><th>File</th><th>Verdict</th><th>Worst frame</th>"
        "<th>Outside the range rule</th><th>Damaged / lost</th></tr>";
    for (size_t i = 0; i < files.size(); ++i) {
        const FileReport& f = files[i];
        s += "<tr><td><a href=\"#" + anchorOf(i) + "\">" + htmlEscaped(f.input) + "</a><div class=\"note\">" +
             (f.error.empty() ? streamText(f) + "<br>" : std::string()) + identityText(f) +
             "</div></td><td>" + verdictBadge(verdictOf(f)) + "</td>";
        if (!f.error.empty()) {
            s += "<td colspan=\"3\" class=\"note\">" + htmlEscaped(f.error) + "</td></tr>";
            continue;
        }
        std::string why;
        const int worst = overviewWorst(f, rules, why);
        if (worst < 0) {
            s += "<td>none</td>";
        } else {
            const FrameNumbers& w = f.frames[worst];
            s += "<td>frame " + std::to_string(w.frame) + " at " + timeText(f, w.time, w.frame) +
                 "<div class=\"note\">" + htmlEscaped(why) + "</div></td>";
        }
        if (!rules.studioRange) {
            s += "<td>not judged</td>";
        } else {
            double most = 0.0;
            int64_t breaking = 0;
            for (const FrameNumbers& fr : f.frames) {
                most = std::max(most, fr.outsidePercent());
                breaking += breaksRangeRule(rules, fr) ? 1 : 0;
            }
            s += "<td>" + fixed(most, kPercentDecimals) + " % at most; " + std::to_string(breaking) + " of " +
                 std::to_string(f.frames.size()) + " frames break it</td>";
        }
        const int64_t damaged = f.damagedCount();
        s += "<td>" + std::to_string(damaged) + " / " +
             std::to_string(static_cast<int64_t>(f.missing.size()) - damaged) + "</td></tr>";
    }
    return s + "</table>\n";
}

}  // namespace

std::string htmlText(const ReportOptions& options, const std::vector<FileReport>& files) {
    const ReportRules& rules = options.rules;
    size_t broken = 0;
    for (const FileReport& f : files) broken += verdictOf(f) != "legal" ? 1 : 0;
    std::string s =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
        "<title>Kivrel legality report</title><style>" +
        std::string(kStyle) + "</style></head><body>\n";
    s += "<h1>Legality report</h1><p class=\"sub\">" + std::to_string(files.size()) + " file" +
         (files.size() == 1 ? "" : "s") + ": <span id=\"overall\" class=\"verdict " +
         (broken ? "breaks" : "legal") + "\">" +
         (broken ? std::to_string(broken) + " of " + std::to_string(files.size()) +
                       " break rules or cannot be read"
                 : std::string("all legal")) +
         "</span> &nbsp; Rules: hot pixels above " + fixed(rules.maxHot.value(), 4) + " % of a frame" +
         (rules.studioRange ? "; range rule " + htmlEscaped(rules.range.name) : "; no range rule") +
         ".</p>\n";
    s += overview(rules, files);
    for (size_t i = 0; i < files.size(); ++i) {
        const FileReport& f = files[i];
        s += "<section class=\"file\" id=\"" + anchorOf(i) + "\"><h2>" + htmlEscaped(f.input) + " " +
             verdictBadge(verdictOf(f)) + "</h2>\n";
        if (!f.error.empty()) {
            s += "<p class=\"note\">" + htmlEscaped(f.error) +
                 "</p><table class=\"facts\"><tr><td>File</td><td>" + identityText(f) +
                 "</td></tr></table></section>\n";
            continue;
        }
        s += "<table class=\"facts\"><tr><td>Input</td><td>" + streamText(f) + "; " +
             htmlEscaped(assumedText(f)) + "</td></tr><tr><td>File</td><td>" + identityText(f) +
             "</td></tr><tr><td>Filter settings</td><td>" + htmlEscaped(f.filterSettings) +
             "</td></tr><tr><td>Frames</td><td>" + htmlEscaped(framesText(f)) + "; " +
             std::to_string(f.framesWithHot) + " with hot pixels</td></tr>";
        if (const std::string found = findingsText(f); !found.empty())
            s += "<tr><td>Findings</td><td>" + htmlEscaped(found) + "</td></tr>";
        if (f.cropped) s += "<tr><td>Region measured</td><td>" + regionText(f.region) + "</td></tr>";
        if (!f.startTimecode.empty())
            s += "<tr><td>Start timecode</td><td>" + htmlEscaped(f.startTimecode) + "</td></tr>";
        if (rules.studioRange)
            s += "<tr><td>Range rule</td><td>" + htmlEscaped(rangeRuleText(rules.range, f)) + "</td></tr>";
        if (!f.missing.empty())
            s += "<tr><td>Missing frames</td><td>" + htmlEscaped(missingText(f, kMostRangeRows, true)) +
                 "</td></tr>";
        for (int m = 0; m < kWorstMeasureCount; ++m) {
            if (f.worst[m] < 0) continue;
            const FrameNumbers& w = f.frames[f.worst[m]];
            const double share = worstMeasurePercent(w, m);
            std::string name = kWorstMeasures[m]->worstName;
            name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
            s += "<tr><td>" + name + "</td><td>frame " + std::to_string(w.frame) + " at " +
                 timeText(f, w.time, w.frame) + ": " + fixed(share, 4) + " %</td></tr>";
        }
        s += "</table>\n<div class=\"charts\">" + pageCharts(f, rules, i) + "</div>\n";
        s += "<h3>Time ranges that break a rule</h3>";
        if (!f.breaksHot() && !f.breaksRange()) {
            s += "<p class=\"note\">None.</p>";
        } else {
            s += "<table class=\"ranges\"><tr><th>Rule</th><th>Time</th><th>Frames</th><th>Count</th>"
                 "<th>Worst</th></tr>" +
                 rangeRows(f, "hot pixels", f.hotRanges) +
                 rangeRows(f, "outside the range rule", f.rangeRanges) + "</table>";
        }
        if (f.figures.empty()) {
            s += "</section>\n";
            continue;
        }
        s += "\n<h3>" + std::string(f.breaksHot() || f.breaksRange() ? "Worst frames" : "Brightest frame") +
             "</h3><p class=\"note lead\">Left: the picture dimmed, hot pixels in magenta" +
             std::string(f.cropped ? ", the region measured outlined" : "") +
             ". Right: its waveform at full size (scroll across; scaled to the page in print).</p>"
             "<div class=\"frames\">";
        for (const Figure& fig : f.figures) {
            s += "<div class=\"pair\"><figure><div class=\"shot\"><img alt=\"frame " +
                 std::to_string(fig.frame) + " with hot pixels marked\" src=\"data:image/png;base64," +
                 base64(fig.thumbnail) + "\">" + (f.cropped ? outline(f) : std::string()) +
                 "</div><figcaption>Frame " + std::to_string(fig.frame) + " at " +
                 timeText(f, fig.time, fig.frame) + " (" + htmlEscaped(fig.why) + "), " +
                 std::to_string(fig.hotPixels) +
                 " hot pixels</figcaption></figure><figure class=\"wave\"><img alt=\"waveform of frame " +
                 std::to_string(fig.frame) + "\" src=\"data:image/png;base64," + base64(fig.waveform) +
                 "\"><figcaption>Waveform monitor</figcaption></figure></div>";
        }
        s += "</div></section>\n";
    }
    s += "<p class=\"note\" id=\"rules\">Made by kivrel report. The filter's own measures, at its settings: "
         "the "
         "histograms' average, lowest and highest levels, the hot pixel scan's test. " +
         htmlEscaped(rangeJudgedText(rules)) +
         " Times are in seconds from the stream's start, with each frame's timecode counted from the file's "
         "start timecode (from 00:00:00:00 where it has none).</p></body></html>\n";
    return s;
}
