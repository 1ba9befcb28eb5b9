// The command line of any words: each input's bytes, split at NUL bytes, are
// the arguments after the program's name, for a render and for a report.
// Parsing answers with options or one message, never anything else; a
// region of interest is then placed on frames of a few sizes, as a run
// would before its first frame.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "monitor/crop_expr.h"
#include "options/parse.h"
#include "os/av_support.h"
#include "report/report_options.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As the host does from its first word: FFmpeg's complaints about a
    // --crop are taken from its log, not printed.
    static const bool routed = (routeLibraryLog(AV_LOG_QUIET), true);
    (void)routed;
    std::vector<std::string> words{"kivrel"};
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    Options options;
    Action action = Action::Run;
    const int argc = static_cast<int>(words.size());
    const Status s = parseCommandLine(argc, argv.data(), options, action);
    if (!s.ok() && s.message().empty()) std::abort();
    if (s.ok() && options.monitor.crop) {
        constexpr int32_t kSizes[][2] = {{1, 1}, {7, 5}, {1920, 1080}, {INT32_MAX, INT32_MAX}};
        for (const auto& wh : kSizes) {
            CropRegion region;
            const Status r = resolveCrop(*options.monitor.crop, wh[0], wh[1], region);
            if (!r.ok() && r.message().empty()) std::abort();
            if (r.ok() && (region.w <= 0 || region.h <= 0 || region.x < 0 || region.y < 0 ||
                           int64_t{region.x} + region.w > wh[0] || int64_t{region.y} + region.h > wh[1]))
                std::abort();  // a region is wholly inside the frame, or an error
        }
    }
    argv[0] = "report";
    ReportOptions report;
    bool help = false;
    const Status rs = parseReportCommandLine(argc, argv.data(), report, help);
    if (!rs.ok() && rs.message().empty()) std::abort();
    return 0;
}
