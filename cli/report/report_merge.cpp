#include "report/report_merge.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "report/file_phrases.h"
#include "report/json_reader.h"
#include "report/report_writers.h"
#include "report/source_measure.h"
#include "report/value_text.h"

namespace {

using Kind = JsonValue::Kind;

constexpr double kWholeFrame = 100.0;  // percent
// A source coded as RGB has its luma judged at 8 bits whatever its depth, as a run judges it.
constexpr int kRgbLumaBits = 8;

// One report being read: every fault names the report and what is wrong.
class ReportReader {
public:
    explicit ReportReader(std::string path) : path_(std::move(path)) {}

    Status fault(const std::string& what) const {
        return Status::fail(path_ + ": " + what + " (not a report kivrel report wrote)");
    }

    const JsonValue* member(const JsonValue& v, const char* key, Kind kind, Status& s) const {
        const JsonValue* m = v.kind == Kind::Object ? v.find(key) : nullptr;
        if (m == nullptr || m->kind != kind) {
            if (s.ok()) s = fault(std::string("no ") + key + " of its kind");
            return nullptr;
        }
        return m;
    }
    std::string text(const JsonValue& v, const char* key, Status& s) const {
        const JsonValue* m = member(v, key, Kind::String, s);
        return m != nullptr ? m->text : std::string();
    }
    bool flag(const JsonValue& v, const char* key, Status& s) const {
        const JsonValue* m = member(v, key, Kind::Bool, s);
        return m != nullptr && m->flag;
    }
    double real(const JsonValue& v, const char* key, Status& s) const {
        return number(member(v, key, Kind::Number, s), key, s);
    }
    double number(const JsonValue* m, const char* key, Status& s) const {
        double d = 0.0;
        if (m != nullptr && !finite(m->text, d)) s = s.ok() ? fault(std::string(key) + " out of range") : s;
        return d;
    }
    // A rule's limit, read exactly as written.
    PercentLimit percent(const JsonValue& v, const char* key, Status& s) const {
        const JsonValue* m = member(v, key, Kind::Number, s);
        PercentLimit p;
        if (m != nullptr && !PercentLimit::parse(m->text, p))
            s = s.ok() ? fault(std::string(key) + " is not a percentage from 0 to 100") : s;
        return p;
    }
    int64_t integer(const JsonValue& v, const char* key, Status& s) const {
        const JsonValue* m = member(v, key, Kind::Number, s);
        int64_t n = 0;
        if (m == nullptr) return 0;
        const char* end = m->text.data() + m->text.size();
        const auto [stop, ec] = std::from_chars(m->text.data(), end, n);
        if (ec != std::errc() || stop != end)
            s = s.ok() ? fault(std::string(key) + " is not a whole number") : s;
        return n;
    }
    int32_t integer32(const JsonValue& v, const char* key, Status& s) const {
        const int64_t n = integer(v, key, s);
        if (n < INT32_MIN || n > INT32_MAX) s = s.ok() ? fault(std::string(key) + " out of range") : s;
        return static_cast<int32_t>(n);
    }
    // A count of pixels from its share as printed: the share it prints again
    // must be the one read, or the merge would not write what a run wrote.
    int64_t count(const JsonValue& v, const char* key, int64_t pixels, Status& s) const {
        const JsonValue* m = member(v, key, Kind::Number, s);
        if (m == nullptr) return 0;
        const double share = real(v, key, s);
        const auto n = static_cast<int64_t>(std::llround(share * static_cast<double>(pixels) / kWholeFrame));
        const double back =
            pixels > 0 ? kWholeFrame * static_cast<double>(n) / static_cast<double>(pixels) : 0.0;
        if (n < 0 || n > pixels || percentText(back) != m->text)
            s = s.ok() ? fault(std::string(key) + " " + m->text + " is no share of the frame's pixels") : s;
        return n;
    }

private:
    std::string path_;

    static bool finite(const std::string& t, double& d) {
        const char* end = t.data() + t.size();
        const auto [stop, ec] = std::from_chars(t.data(), end, d);
        return ec == std::errc() && stop == end && std::isfinite(d);
    }
};

CodeLimits limitsOf(const ReportReader& r, const JsonValue& rules, const char* key, Status& s) {
    const JsonValue* v = rules.find(key);
    if (v != nullptr && v->kind == Kind::Null) return {};
    const JsonValue* pair = r.member(rules, key, Kind::Array, s);
    if (pair == nullptr || pair->items.size() != 2 || pair->items[0].kind != Kind::Number ||
        pair->items[1].kind != Kind::Number) {
        if (s.ok()) s = r.fault(std::string(key) + " is not [lo, hi]");
        return {};
    }
    return {true, r.number(&pair->items[0], key, s), r.number(&pair->items[1], key, s)};
}

ReportRules rulesOf(const ReportReader& r, const JsonValue& rules, Status& s) {
    ReportRules out;
    out.maxHot = r.percent(rules, "max_hot_percent", s);
    out.studioRange = r.text(rules, "range_rule", s) != "off";
    if (const JsonValue* failOn = r.member(rules, "fail_on", Kind::Array, s))
        for (const JsonValue& rule : failOn->items) {
            out.failOnHot = out.failOnHot || rule.text == "hot";
            out.failOnRange = out.failOnRange || rule.text == "range";
            out.failOnDamaged = out.failOnDamaged || rule.text == "damaged";
        }
    out.range.name = r.text(rules, "rule", s);
    out.range.luma = limitsOf(r, rules, "luma_range", s);
    out.range.chroma = limitsOf(r, rules, "chroma_range", s);
    out.range.rgb = limitsOf(r, rules, "rgb_range", s);
    out.range.area = r.percent(rules, "area_percent", s);
    return out;
}

// The key of the column that holds the count a ShareOfCount column is the share of.
std::string countKeyOf(const ReportColumn& share) {
    for (const ReportColumn& c : kReportColumns)
        if (c.form == ColumnForm::Count && c.field.get == share.field.get) return c.key;
    return {};
}

std::vector<TimeRange> rangesOf(const ReportReader& r, const JsonValue& file, const char* key, Status& s) {
    std::vector<TimeRange> out;
    if (const JsonValue* list = r.member(file, key, Kind::Array, s))
        for (const JsonValue& v : list->items) {
            TimeRange t;
            t.start = r.real(v, "start", s);
            t.end = r.real(v, "end", s);
            t.firstFrame = r.integer(v, "first_frame", s);
            t.lastFrame = r.integer(v, "last_frame", s);
            t.frames = r.integer(v, "frames", s);
            t.worstPercent = r.real(v, "worst_percent", s);
            t.worstFrame = r.integer(v, "worst_frame", s);
            if (s.ok() && (t.worstFrame < t.firstFrame || t.worstFrame > t.lastFrame))
                s = r.fault("a range whose worst frame is not one of its own");
            out.push_back(t);
        }
    return out;
}

FrameNumbers frameOf(const ReportReader& r, const JsonValue& v, int64_t pixels, Status& s) {
    FrameNumbers f;
    const std::vector<std::string> keys = jsonFrameKeys();
    bool same = v.kind == Kind::Object && v.members.size() == keys.size();
    for (size_t i = 0; same && i < keys.size(); ++i) same = v.members[i].key == keys[i];
    if (!same) {
        if (s.ok()) s = r.fault("a frame without the frame keys in their order");
        return f;
    }
    f.pixels = pixels;
    // Every column the JSON holds, as its kind is read back; the input is the file's own.
    for (const ReportColumn& c : kReportColumns) {
        if (!inJson(c)) continue;
        switch (c.form) {
        case ColumnForm::Frame: f.frame = r.integer(v, c.key, s); break;
        case ColumnForm::Time: f.time = r.real(v, c.key, s); break;
        case ColumnForm::Count: c.field.set(f, r.integer(v, c.key, s)); break;
        case ColumnForm::Level: c.field.set(f, r.integer32(v, c.key, s)); break;
        case ColumnForm::Share: c.field.set(f, r.count(v, c.key, pixels, s)); break;
        case ColumnForm::ShareOfCount:
            if (s.ok() && percentText(f.share(c.field.get(f))) != v.find(c.key)->text)
                s = r.fault(std::string(c.key) + " is not " + countKeyOf(c) + "' share of the frame");
            break;
        default: break;  // Input, Timecode: the file's
        }
    }
    return f;
}

// Whether `key` of `v` is null: an optional value not known.
bool isNull(const JsonValue& v, const char* key) {
    const JsonValue* m = v.find(key);
    return m != nullptr && m->kind == Kind::Null;
}

// The file's size and the MD5 of its bytes, each null where unknown.
void identityOf(const ReportReader& r, const JsonValue& v, FileReport& f, Status& s) {
    if (!isNull(v, "file_bytes")) f.fileBytes = r.integer(v, "file_bytes", s);
    if (!isNull(v, "md5")) f.md5 = r.text(v, "md5", s);
    if (s.ok() && (f.fileBytes < 0) != f.md5.empty())
        s = r.fault("a file's size without its MD5, or its MD5 without its size");
}

// One file's summary, and its frames from `frames` at `next` on.
FileReport fileOf(const ReportReader& r, const ReportRules& rules, const JsonValue& v,
                  const JsonValue& frames, size_t& next, Status& s) {
    FileReport f;
    f.input = r.text(v, "input", s);
    if (const JsonValue* exact = v.find("input_bytes"); exact != nullptr && s.ok()) {
        const std::string shown = f.input;
        if (exact->kind != Kind::String || !namedBytes(exact->text, f.input) || validUtf8(f.input) != shown ||
            validUtf8(f.input) == f.input)
            s = r.fault("input_bytes that are not the input's");
    }
    if (const JsonValue* error = v.find("error"); error != nullptr) {
        f.error = r.text(v, "error", s);
        f.failure = r.text(v, "verdict", s);
        identityOf(r, v, f, s);
        if (s.ok() && f.failure != kUnreadable && f.failure != kCropDoesNotFit)
            s = r.fault("a file not measured, said to be " + quoted(f.failure));
        return f;
    }
    const int64_t count = r.integer(v, "frames", s);
    f.framesWithHot = r.integer(v, "frames_with_hot", s);
    if (const JsonValue* missing = r.member(v, "missing", Kind::Array, s))
        for (const JsonValue& m : missing->items)
            f.missing.push_back(
                {r.integer(m, "frame", s), r.real(m, "time", s), r.text(m, "why", s) == "damaged"});
    if (const JsonValue* assumed = r.member(v, "assumed", Kind::Object, s)) {
        f.matrix = r.text(*assumed, "matrix", s);
        f.matrixAssumed = r.flag(*assumed, "matrix_untagged", s);
        f.range = r.text(*assumed, "range", s);
        f.rangeAssumed = r.flag(*assumed, "range_untagged", s);
        f.bits = r.integer32(*assumed, "bits", s);
        const std::string transfer = r.text(*assumed, "transfer", s);
        f.hdrTransfer = transfer == "SDR" ? "" : transfer;
    }
    if (!isNull(v, "start_timecode")) f.startTimecode = r.text(v, "start_timecode", s);
    f.fps = r.real(v, "frame_rate", s);
    f.codec = r.text(v, "codec", s);
    if (!isNull(v, "duration")) f.seconds = r.real(v, "duration", s);
    identityOf(r, v, f, s);
    f.filterSettings = r.text(v, "settings", s);
    f.w = r.integer32(v, "width", s);
    f.h = r.integer32(v, "height", s);
    const int64_t pixels = r.integer(v, "frame_pixels", s);
    // The limits at the file's depth follow from the rule; the text written must agree.
    const bool measured = r.flag(v, "source_measured", s);
    noteLimits(rules.range, measured ? f.bits : kRgbLumaBits, measured, f);
    if (const std::string said = r.text(v, "range_rule", s); s.ok() && said != rangeRuleText(rules.range, f))
        s = r.fault("range_rule \"" + said + "\" is not what its rule makes at " + std::to_string(f.bits) +
                    " bits");
    f.hotRanges = rangesOf(r, v, "hot_ranges", s);
    f.rangeRanges = rangesOf(r, v, "range_ranges", s);
    for (int64_t i = 0; i < count && s.ok(); ++i, ++next) {
        if (next >= frames.items.size()) {
            s = r.fault("fewer frames than its files count");
            break;
        }
        f.frames.push_back(frameOf(r, frames.items[next], pixels, s));
        if (s.ok() && frames.items[next].find("input")->text != validUtf8(f.input))
            s = r.fault("frames out of their files' order");
    }
    if (const JsonValue* worst = r.member(v, "worst", Kind::Object, s))
        for (int m = 0; m < kWorstMeasureCount && s.ok(); ++m) {
            const JsonValue* w = worst->find(kWorstMeasures[m]->key);
            if (w != nullptr && w->kind == Kind::Null) continue;
            const int64_t frame = r.integer(w != nullptr ? *w : JsonValue{}, "frame", s);
            for (size_t i = 0; i < f.frames.size(); ++i)
                if (f.frames[i].frame == frame) f.worst[m] = static_cast<int>(i);
            if (f.worst[m] < 0 && s.ok())
                s = r.fault(std::string("no frame ") + std::to_string(frame) + " for its worst");
        }
    return f;
}

Status readText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Status::fail("cannot read " + path);
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) return Status::fail("cannot read " + path);
    text = std::move(all).str();
    return {};
}

MeasureSettings settingsOf(const ReportReader& r, const JsonValue& v, Status& s) {
    MeasureSettings out;
    const std::string system = r.text(v, "system", s), matrix = r.text(v, "matrix", s),
                      range = r.text(v, "range", s), crop = r.text(v, "crop", s);
    out.gamma = r.flag(v, "gamma_corrected", s);
    out.maxIre = r.integer32(v, "max_ire", s);
    if (s.ok() && !parseMeasureWords(system, matrix, range, crop, out))
        s = r.fault("settings it cannot have been made with");
    return out;
}

// The rule as a person names it in the refusal.
std::string ruleName(const ReportRules& rules) {
    return rules.studioRange ? rules.range.name : std::string("no range rule");
}

}  // namespace

Status mergeReports(const std::vector<std::string>& paths, ReportRules& rules, MeasureSettings& settings,
                    std::vector<FileReport>& files) {
    std::string firstRules, firstPath;
    // Each input's first report: an input merged twice would count its frames twice.
    std::map<std::string, std::string> reportOf;
    for (const std::string& path : paths) {
        std::string text;
        if (Status s = readText(path, text); !s.ok()) return s;
        JsonValue doc;
        const ReportReader r(path);
        if (Status s = parseJson(text, doc); !s.ok()) return r.fault(s.message());
        Status s;
        const JsonValue* summary = r.member(doc, "summary", Kind::Object, s);
        const JsonValue* frames = r.member(doc, "frames", Kind::Array, s);
        if (!s.ok()) return s;
        const std::string version = r.text(*summary, "version", s);
        if (!s.ok()) return s;
        if (version != kivrelVersion())
            return Status::fail(path + ": made by kivrel " + version + ", not by this kivrel " +
                                kivrelVersion() + "; report its files again with one version");
        const JsonValue* rulesJson = r.member(*summary, "rules", Kind::Object, s);
        if (!s.ok()) return s;
        const ReportRules these = rulesOf(r, *rulesJson, s);
        const JsonValue* settingsJson = r.member(*summary, "settings", Kind::Object, s);
        if (!s.ok()) return s;
        const MeasureSettings measured = settingsOf(r, *settingsJson, s);
        if (!s.ok()) return s;
        // The rules as this kivrel writes them: two reports agree when they print alike.
        const std::string printed = rulesText(these);
        if (firstPath.empty()) {
            firstRules = printed;
            firstPath = path;
            rules = these;
            settings = measured;
        } else if (printed != firstRules) {
            return Status::fail(path + ": judged by other rules (" + ruleName(these) + ") than " + firstPath +
                                " (" + ruleName(rules) +
                                "); merge reports made with the same rule, limits and options");
        } else if (const std::string differ = settingsDifference(measured, settings); !differ.empty()) {
            return Status::fail(path + ": measured with other settings than " + firstPath + " (" + differ +
                                "); report every file with the same saved defaults and settings options");
        }
        const JsonValue* list = r.member(*summary, "files", Kind::Array, s);
        if (!s.ok()) return s;
        size_t next = 0;
        for (const JsonValue& file : list->items) {
            files.push_back(fileOf(r, rules, file, *frames, next, s));
            if (!s.ok()) return s;
            const auto [at, first] = reportOf.emplace(files.back().input, path);
            if (!first)
                return Status::fail(path + ": reports " + quoted(files.back().input) + " again, as " +
                                    at->second + " does; merge each input's report once");
        }
        if (next != frames->items.size()) return r.fault("more frames than its files count");
    }
    return {};
}
