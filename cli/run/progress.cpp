#include "run/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 24;
constexpr int kPercent = 100;
constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerHour = 3600;
constexpr const char* kClearToEndOfLine = "\x1b[K";

std::string clockTime(double seconds) {
    const int64_t s = std::llround(std::max(0.0, seconds));
    char buf[32];
    if (s >= kSecondsPerHour)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(s / kSecondsPerHour),
                      static_cast<long long>(s % kSecondsPerHour / kSecondsPerMinute),
                      static_cast<long long>(s % kSecondsPerMinute));
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(s / kSecondsPerMinute),
                      static_cast<long long>(s % kSecondsPerMinute));
    return buf;
}

}  // namespace

Progress::Progress(bool enabled, int64_t total)
    : enabled_(enabled), total_(total), start_(Clock::now()), lastDraw_(start_ - kRedrawInterval) {}

std::string Progress::format(int64_t done, int64_t total, double seconds) {
    const double fps = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
    char buf[160];
    if (total <= 0) {
        std::snprintf(buf, sizeof buf, "%lld frames  %.1f fps", static_cast<long long>(done), fps);
        return buf;
    }
    done = std::min(done, total);
    const int filled = static_cast<int>(done * kBarWidth / total);
    const std::string bar = std::string(static_cast<size_t>(filled), '#') +
                            std::string(static_cast<size_t>(kBarWidth - filled), '.');
    const std::string left = fps > 0.0 ? clockTime(static_cast<double>(total - done) / fps) : "?";
    std::snprintf(buf, sizeof buf, "%3d%% [%s] %lld/%lld frames  %.1f fps  %s left",
                  static_cast<int>(done * kPercent / total), bar.c_str(), static_cast<long long>(done),
                  static_cast<long long>(total), fps, left.c_str());
    return buf;
}

void Progress::update(int64_t done) {
    if (!enabled_) return;
    if (total_ > 0 && done > total_) total_ = -1;  // the container's count was short: stop guessing
    const Clock::time_point now = Clock::now();
    if (now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\r%s%s", format(done, total_, seconds).c_str(), kClearToEndOfLine);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::finish() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r%s", kClearToEndOfLine);
    std::fflush(stderr);
    drawn_ = false;
}
