#include "run/read.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <string>

#include "os/signals.h"
#include "run/read_rules.h"
#include "run/run_counts.h"

namespace {

constexpr size_t kAnyNumber = 1 << 16;

// Wakes a thread blocked in a system call: the call returns EINTR and
// FFmpeg's retry loop asks the interrupt callback. Without a handler the
// signal would be ignored and wake nothing.
constexpr int kWakeSignal = SIGURG;
constexpr auto kWakeInterval = std::chrono::milliseconds(20);

void onWake(int) {}

void installWakeHandler() {
    static const bool installed = [] {
        struct sigaction sa {};
        sigemptyset(&sa.sa_mask);
        sa.sa_handler = onWake;
        sa.sa_flags = 0;  // no SA_RESTART
        return ::sigaction(kWakeSignal, &sa, nullptr) == 0;
    }();
    (void)installed;
}

}  // namespace

std::string FrameReading::lastGoodText() const {
    if (lastGoodNumber_ < 0) return {};
    char at[48];
    std::snprintf(at, sizeof at, " at %.3f s", reader_.info().timeline().secondsAt(lastGoodPts_));
    return "frame " + std::to_string(reader_.info().numberAt(lastGoodNumber_, lastGoodPts_)) + at;
}

std::string FrameReading::damageText(const std::string& problem) const {
    const std::string good = lastGoodText();
    return problem +
           (good.empty() ? "; no good frame comes before it" : "; the last good one before it is " + good);
}

SourceItem FrameReading::next(FrameBuffer& frame) {
    SourceItem item;
    const bool still = reader_.info().still;
    for (;;) {
        item.skipped = skipped_;
        if (pendingSignal() != 0) {
            item.kind = SourceItem::Kind::Failed;
            item.status = Status::fail("interrupted");
            return item;
        }
        if (rules_.limit >= 0 && handed_ >= rules_.limit) return item;
        if (still && handed_ > 0) {
            if (handed_ >= rules_.stillRepeats) return item;
            // The same picture again, where the buffer does not hold it already.
            if (frame.frame().data != stillAt_) {
                const ConstFrame from = std::as_const(still_).frame();
                Frame to = frame.frame();
                for (int32_t k = 0; k < to.h; ++k) std::copy_n(from.storedRow(k), to.w, to.storedRow(k));
            }
            item.kind = SourceItem::Kind::Frame;
            item.meta.number = handed_;
            item.meta.pts = handed_;
            ++handed_;
            return item;
        }
        const auto t0 = Timing::Clock::now();
        ReadFrame& meta = item.meta;
        Status s = reader_.read(meta);
        if (s.ok() && converter_ != nullptr && !meta.end && !meta.corrupt)
            s = converter_->convert(reader_.picture(), converter_->levels(), frame);
        item.decodeSeconds += Timing::since(t0);
        if (!s.ok()) {
            item.kind = SourceItem::Kind::Failed;
            item.status = s;
            return item;
        }
        if (meta.end) {
            if (meta.cutShort) {
                const std::string said = damageText(meta.problem);
                if (!rules_.skipErrors) {
                    item.kind = SourceItem::Kind::Failed;
                    item.status = Status::fail(
                        said + "; the input is damaged (--skip-errors keeps the frames before the cut)");
                    return item;
                }
                item.damage.push_back(said);
                item.lastGood = lastGoodText();
            }
            item.cutShort = meta.cutShort;
            return item;
        }
        if (rules_.stop.ticks >= 0 && !still) {
            const int64_t from = rules_.stop.fromStreamStart ? reader_.info().startPts : meta.pts;
            if (stopPts_ < 0) stopPts_ = from + rules_.stop.ticks;
            if (meta.pts >= stopPts_) {
                item.meta = {};
                return item;
            }
        }
        if (meta.corrupt) {
            const std::string said = damageText(meta.problem);
            if (!rules_.skipErrors) {
                item.kind = SourceItem::Kind::Failed;
                item.status =
                    Status::fail(said + "; the input is damaged (--skip-errors leaves such frames out)");
                return item;
            }
            item.damage.push_back(said);
            ++skipped_;
            item.skippedPts.push_back(meta.pts);
            continue;
        }
        if (still && rules_.stillRepeats > 1) {
            still_ = frame;
            stillAt_ = frame.frame().data;
        }
        item.kind = SourceItem::Kind::Frame;
        ++handed_;
        lastGoodNumber_ = meta.number;
        lastGoodPts_ = meta.pts;
        return item;
    }
}

ReadAhead::ReadAhead(Reader& reader, FrameConverter& converter, const ReadRules& rules, int32_t w, int32_t h,
                     ptrdiff_t pitch, int frames)
    : reading_(reader, &converter, rules),
      w_(w),
      h_(h),
      pitch_(pitch),
      poolSize_(static_cast<size_t>(std::max(frames, 1))),
      // Room for every buffer there is, the renderer's own among them: giving one back never waits.
      free_(kAnyNumber),
      ready_(poolSize_ + 1) {
    installWakeHandler();
    thread_ = std::thread([this] {
        run();
        done_ = true;
    });
}

ReadAhead::~ReadAhead() { stop(); }

FrameBuffer* ReadAhead::bufferToFill(Status& failure) {
    FrameBuffer* frame = nullptr;
    if (free_.tryPop(frame)) return frame;
    // Made here as the reading first needs them, not before the run starts:
    // the first frame is decoded while the caller still sets up, and a short
    // run touches only the memory it uses.
    if (owned_.size() < poolSize_) {
        try {
            owned_.push_back(std::make_unique<FrameBuffer>(w_, h_, pitch_));
            return owned_.back().get();
        } catch (const std::bad_alloc&) {
            // The buffers made so far are enough to go on with, if slower.
            if (owned_.empty()) {
                failure = Status::fail("out of memory for a " + std::to_string(w_) + "x" +
                                       std::to_string(h_) + " frame");
                return nullptr;
            }
            poolSize_ = owned_.size();
        }
    }
    return free_.pop(frame) ? frame : nullptr;
}

void ReadAhead::run() {
    for (;;) {
        ReadItem r;
        Status failure;
        r.frame = bufferToFill(failure);
        if (r.frame == nullptr) {
            if (!failure.ok()) {
                r.item.kind = SourceItem::Kind::Failed;
                r.item.status = failure;
                ready_.push(std::move(r));
            }
            return;
        }
        r.item = reading_.next(*r.frame);
        const bool frame = r.item.kind == SourceItem::Kind::Frame;
        if (!frame) {
            free_.push(r.frame);
            r.frame = nullptr;
        }
        if (!ready_.push(std::move(r)) || !frame) return;
    }
}

ReadItem ReadAhead::next() {
    ReadItem r;
    if (ended_ || !ready_.pop(r)) {
        r = {};
        ended_ = true;
        return r;
    }
    if (r.item.kind != SourceItem::Kind::Frame) ended_ = true;
    return r;
}

void ReadAhead::recycle(FrameBuffer* frame) {
    if (frame != nullptr) free_.push(frame);
}

void ReadAhead::stop() {
    if (!thread_.joinable()) return;
    reading_.cancel();
    free_.close();
    ready_.close();
    while (!done_) {
        ::pthread_kill(thread_.native_handle(), kWakeSignal);
        std::this_thread::sleep_for(kWakeInterval);
    }
    thread_.join();
}

ReadStage::ReadStage(Reader& reader, FrameConverter& converter, const ReadRules& rules, int32_t w, int32_t h,
                     ptrdiff_t pitch, int ahead) {
    if (ahead > 0) {
        ahead_.emplace(reader, converter, rules, w, h, pitch, ahead);
    } else {
        reading_.emplace(reader, &converter, rules);
        own_ = FrameBuffer(w, h, pitch);
    }
}

SourceItem ReadStage::next(FrameBuffer*& frame) {
    if (reading_) {
        frame = &own_;
        return reading_->next(own_);
    }
    ahead_->recycle(held_);
    ReadItem r = ahead_->next();
    held_ = r.frame;
    frame = held_;
    return std::move(r.item);
}

void ReadStage::cancel() {
    if (ahead_) ahead_->stop();
    if (reading_) reading_->cancel();
}

Status checkInputFile(const std::string& path, std::optional<FileId>& id) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};  // a pattern, a pipe name ...
    id = FileId{st.st_dev, st.st_ino};
    if (S_ISREG(st.st_mode) && st.st_size == 0)
        return Status::fail(path + ": the file is empty (0 bytes), not a picture or video");
    return {};
}

Status openInput(const Options& options, std::unique_ptr<Reader>& reader) {
    return openReader(options.input.empty() ? kTestCardReaderName : kMediaReaderName,
                      readerParams(options, options.input), reader);
}
