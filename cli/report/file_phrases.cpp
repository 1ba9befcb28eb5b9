#include "report/file_phrases.h"

#include "report/timecode.h"
#include "report/value_text.h"

namespace {

constexpr int kByteBits = 8;
constexpr const char* kZeroTimecode = "00:00:00:00";  // where a file tags none
constexpr int kLimitDecimals = 2;                     // r103's 5.05 and 245.95

// A limit in 8-bit terms as short as it is exact: "16", "5.05".
std::string limitText(double v) {
    std::string t = fixed(v, kLimitDecimals);
    while (t.back() == '0') t.pop_back();
    if (t.back() == '.') t.pop_back();
    return t;
}

}  // namespace

const char* missingWhy(const MissingFrame& m) { return m.damaged ? "damaged" : "lost"; }

std::string verdictOf(const FileReport& file) {
    if (!file.error.empty()) return file.failure;
    if (!file.breaksHot() && !file.breaksRange()) return "legal";
    std::string v = "breaks";
    if (file.breaksHot()) v += " hot";
    if (file.breaksHot() && file.breaksRange()) v += " and";
    if (file.breaksRange()) v += " range";
    return v;
}

std::string assumedText(const FileReport& file) {
    std::string t = file.matrix + (file.matrixAssumed ? " (untagged, assumed)" : "");
    t += ", " + file.range + " range" + (file.rangeAssumed ? " (untagged, assumed)" : "");
    t += ", " + std::to_string(file.bits) + " bits" + (file.bits > 8 ? " read as 8" : "");
    return t + (file.hdrTransfer.empty() ? "" : ", " + file.hdrTransfer);
}

std::string findingsText(const FileReport& file) {
    std::vector<std::string> found;
    // Judged as broadcast codes it all the same (source_planes.h), but the file is not what broadcast takes.
    if (file.error.empty() && file.matrix != kRgbMatrixName && file.range == kFullRangeName)
        found.emplace_back("full-range Y′CbCr: not a broadcast range");
    std::string t;
    for (const std::string& f : found) t += (t.empty() ? "" : "; ") + f;
    return t;
}

std::string rangeRuleText(const RangeRule& rule, const FileReport& file) {
    std::string t = rule.name + ":";
    const auto limits = [&](const char* name, const int32_t(&l)[2]) {
        if (l[0] < 0) return;
        t += std::string(t.back() == ':' ? " " : ", ") + name + " " + std::to_string(l[0]) + "-" +
             std::to_string(l[1]);
    };
    limits("Y", file.lumaLimits);
    limits("CbCr", file.chromaLimits);
    limits("RGB", file.rgbLimits);
    t += " at " + std::to_string(file.sourceMeasured ? file.bits : kByteBits) + " bits";
    t += !rule.area.isZero() ? ", more than " + fixed(rule.area.value(), 2) + " % of a frame" : ", any pixel";
    // The limits are those of SDR video: said so, not left to be assumed.
    return t + (file.hdrTransfer.empty()
                    ? ""
                    : ", on the " + file.hdrTransfer + " signal's code values as if SDR");
}

std::string framesText(const FileReport& file) {
    std::string t = std::to_string(file.frames.size());
    if (file.missing.empty()) return t;
    const int64_t damaged = file.damagedCount(), lost = static_cast<int64_t>(file.missing.size()) - damaged;
    return t + ", " + std::to_string(file.missing.size()) + " missing: " + std::to_string(damaged) +
           " damaged and left out, " + std::to_string(lost) + " lost";
}

std::string missingText(const FileReport& file, size_t most, bool timecodes) {
    std::string t;
    size_t runs = 0;
    const std::vector<MissingFrame>& m = file.missing;
    for (size_t i = 0, j = 0; i < m.size(); i = j) {
        for (j = i + 1; j < m.size() && m[j].frame == m[j - 1].frame + 1 && m[j].damaged == m[i].damaged;)
            ++j;
        if (++runs > most) continue;
        const MissingFrame& last = m[j - 1];
        t += std::string(t.empty() ? "" : ", ") + std::to_string(m[i].frame) +
             (j - i > 1 ? "-" + std::to_string(last.frame) : "") + " at ";
        if (timecodes)
            t += timeText(file, m[i].time, m[i].frame) +
                 (j - i > 1 ? " – " + timeText(file, last.time, last.frame) : "") + " " + missingWhy(m[i]);
        else
            t += fixed(m[i].time, kTimeDecimals) + (j - i > 1 ? "-" + fixed(last.time, kTimeDecimals) : "") +
                 " s " + missingWhy(m[i]);
    }
    if (runs > most) t += " and " + std::to_string(runs - most) + " more";
    return t;
}

std::string regionText(const CropRegion& r) {
    return std::to_string(r.w) + "×" + std::to_string(r.h) + " at " + std::to_string(r.x) + "," +
           std::to_string(r.y) + " (FFmpeg's crop=" + std::to_string(r.w) + ":" + std::to_string(r.h) + ":" +
           std::to_string(r.x) + ":" + std::to_string(r.y) + ")";
}

std::string timecodeOf(const FileReport& file, int64_t frame) {
    return timecodeAt(file.startTimecode.empty() ? kZeroTimecode : file.startTimecode, file.fps, frame);
}

std::string timeText(const FileReport& file, double seconds, int64_t frame) {
    const std::string tc = timecodeOf(file, frame);
    return fixed(seconds, kTimeDecimals) + " s" + (tc.empty() ? "" : " (" + tc + ")");
}

double durationOf(const FileReport& file) {
    if (file.seconds >= 0.0) return file.seconds;
    if (file.frames.empty()) return 0.0;
    return file.frames.back().time - file.frames.front().time + (file.fps > 0.0 ? 1.0 / file.fps : 0.0);
}

std::string rangeJudgedText(const ReportRules& rules) {
    if (!rules.studioRange)
        return "No range rule is judged (--range-rule off): only the hot pixel rule gives a verdict.";
    const RangeRule& r = rules.range;
    std::string judged;
    const auto add = [&](const CodeLimits& l, const char* what) {
        if (!l.judged) return;
        judged +=
            std::string(judged.empty() ? "" : "; ") + what + " " + limitText(l.lo) + "–" + limitText(l.hi);
    };
    add(r.luma, "Y");
    add(r.chroma, "Cb and Cr");
    add(r.rgb, "R, G and B made from them by the source's matrix, unclipped,");
    if (judged.empty()) return "The range rule " + r.name + " judges no code values.";
    return "The range rule " + r.name +
           " judges the source's own Y′CbCr code values, whatever the filter's settings: " + judged +
           " (in 8-bit terms, scaled to each file's depth). A frame breaks it " +
           (r.area.isZero() ? std::string("with any pixel outside")
                            : "when more than " + r.area.text(0) + " % of its pixels are outside") +
           "." +
           (r.luma.judged ? " A source coded as RGB is judged on its luma alone, as a converter to Y′CbCr "
                            "would code it."
                          : "");
}
