#include <algorithm>

#include "input/colour_standards.h"
#include "report/report_data.h"

bool breaksHotRule(const ReportRules& rules, const FrameNumbers& f) {
    // On the count itself, so 0 % means "no hot pixel at all" exactly.
    return rules.maxHot.exceededBy(f.hotPixels, f.pixels);
}

namespace {

// EBU R 103's allowance: 5 % of the nominal 219 levels below black and above white.
constexpr double kR103Allowance = 0.05;
constexpr double kR103Below = kLumaBlackCode - kR103Allowance * kLumaCodeSpan,
                 kR103Above = kLumaWhiteCode + kR103Allowance * kLumaCodeSpan;
constexpr int32_t kR103AreaPercent = 1;

const RangeRule kNamedRules[] = {
    {"strict",
     {true, kLumaBlackCode, kLumaWhiteCode},
     {true, kChromaLowestCode, kChromaHighestCode},
     {},
     PercentLimit{}},
    {"r103",
     {true, kR103Below, kR103Above},
     {},
     {true, kR103Below, kR103Above},
     PercentLimit::whole(kR103AreaPercent)},
};

}  // namespace

const RangeRule* namedRangeRule(std::string_view name) {
    for (const RangeRule& r : kNamedRules)
        if (r.name == name) return &r;
    return nullptr;
}

bool breaksRangeRule(const ReportRules& rules, const FrameNumbers& f) {
    // On the counts themselves, so that exactly the allowed share passes.
    return rules.studioRange && rules.range.area.exceededBy(f.outside, f.pixels);
}

namespace {

// Frames that follow each other in the file and break the rule join one range.
template <typename Breaks, typename Share>
std::vector<TimeRange> rangesOf(const FileReport& file, Breaks breaks, Share share) {
    std::vector<TimeRange> ranges;
    const double frameTime = file.fps > 0.0 ? 1.0 / file.fps : 0.0;
    bool open = false;
    for (size_t i = 0; i < file.frames.size(); ++i) {
        const FrameNumbers& f = file.frames[i];
        if (!breaks(f)) {
            open = false;
            continue;
        }
        if (!open || f.frame != ranges.back().lastFrame + 1) {
            ranges.push_back({f.frame, f.frame, f.time, f.time, 0, share(f), f.frame});
            open = true;
        }
        TimeRange& r = ranges.back();
        r.lastFrame = f.frame;
        r.end = f.time + frameTime;
        ++r.frames;
        if (const double s = share(f); s > r.worstPercent) {
            r.worstPercent = s;
            r.worstFrame = f.frame;
        }
    }
    return ranges;
}

}  // namespace

void summarise(const ReportRules& rules, FileReport& file) {
    file.framesWithHot = 0;
    for (int& w : file.worst) w = -1;
    for (size_t i = 0; i < file.frames.size(); ++i) {
        const FrameNumbers& f = file.frames[i];
        if (f.hotPixels > 0) ++file.framesWithHot;
        for (int m = 0; m < kWorstMeasureCount; ++m) {
            const double share = worstMeasurePercent(f, m);
            if (share > 0.0 &&
                (file.worst[m] < 0 || share > worstMeasurePercent(file.frames[file.worst[m]], m)))
                file.worst[m] = static_cast<int>(i);
        }
    }
    file.hotRanges = rangesOf(
        file, [&](const FrameNumbers& f) { return breaksHotRule(rules, f); },
        [](const FrameNumbers& f) { return f.hotPercent(); });
    file.rangeRanges = rangesOf(
        file, [&](const FrameNumbers& f) { return breaksRangeRule(rules, f); },
        [](const FrameNumbers& f) { return f.outsidePercent(); });
}

int64_t FileReport::damagedCount() const {
    return std::count_if(missing.begin(), missing.end(), [](const MissingFrame& m) { return m.damaged; });
}

bool failsDelivery(const ReportRules& rules, const std::vector<FileReport>& files) {
    for (const FileReport& f : files)
        if ((rules.failOnHot && f.breaksHot()) || (rules.failOnRange && f.breaksRange()) ||
            (rules.failOnDamaged && f.damaged()))
            return true;
    return false;
}
