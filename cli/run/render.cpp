#include "run/render.h"

#include "core/settings_vocabulary.h"
#include "os/signals.h"
#include "pluginhost/script_call.h"
#include "run/run_counts.h"

namespace {

constexpr auto kSignalPoll = std::chrono::milliseconds(50);
constexpr int kReadAheadFrames = 2;

}  // namespace

Status ModuleRenderer::addLanes(const FilterModuleHost& module, int lanes,
                                const std::function<Status(FilterInstance&)>& setUp) {
    while (this->lanes() < lanes) {
        auto inst = std::make_unique<FilterInstance>(module);
        if (Status s = setUp(*inst); !s.ok()) return s;
        more_.push_back(std::move(inst));
    }
    return {};
}

Status ModuleRenderer::end() {
    Status first;
    for (auto& inst : more_) {
        const CallbackScope scope("endProc", -1);
        if (Status s = inst->end(); !s.ok() && first.ok()) first = s;
    }
    return first;
}

Status ModuleRenderer::render(int k, int64_t number, const FrameBuffer*& output) {
    FilterInstance& inst = lane(k);
    const CallbackScope scope("runProc", number);
    if (Status s = inst.run(number); !s.ok()) return s;
    output = &std::as_const(inst).output();
    return {};
}

bool keepsStateAcrossFrames(FilterInstance& inst) {
    ConfigArgs args{};
    // A filter whose settings cannot be read may keep anything.
    if (!configArgsOfLine(inst.scriptLine(), args)) return true;
    return args[kArgMode] == static_cast<int>(DisplayMode::Histograms) && args[kArgPassthru] == 0 &&
           args[kArgAccum] != 0;
}

void renderTaken(FrameRenderer& renderer, int lane, RenderedFrame& frame) {
    const auto t0 = Timing::Clock::now();
    const Status s = renderer.render(lane, frame.item.meta.number, frame.output);
    frame.filterSeconds = Timing::since(t0);
    if (!s.ok()) {
        frame.item.kind = SourceItem::Kind::Failed;
        frame.item.status = s;
        frame.output = nullptr;
    }
}

RenderFlow::RenderFlow(Reader& reader, FrameConverter& converter, const ReadRules& rules,
                       FrameRenderer& renderer, int32_t w, int32_t h, ptrdiff_t pitch, int threads)
    : renderer_(renderer) {
    if (threads == 1) {
        reading_.emplace(reader, converter, rules, w, h, pitch, 0);
        return;
    }
    const int lanes = renderer.lanes();
    // Each lane keeps the frame it renders in a buffer of its own and hands
    // back the one before as it takes the next: the reading needs one to read
    // into and one waiting for the first lane free. More would only cost: a
    // 1080p buffer is 8 MB, and making one costs more than converting ten frames.
    ahead_.emplace(reader, converter, rules, w, h, pitch, kReadAheadFrames);
    // Each lane holds at most one result the caller has not taken and works on one more.
    results_.resize(static_cast<size_t>(2 * lanes + 1));
    lanes_.resize(static_cast<size_t>(lanes));
    for (int k = 0; k < lanes; ++k)
        lanes_[static_cast<size_t>(k)].thread = std::thread([this, k] { runLane(k); });
}

RenderFlow::~RenderFlow() { stop(); }

void RenderFlow::runLane(int k) {
    for (;;) {
        ReadItem r;
        int64_t ticket = 0;
        {
            const std::lock_guard<std::mutex> take(takeMutex_);
            r = ahead_->next();
            ticket = nextTicket_++;
        }
        RenderedFrame done;
        done.item = r.item;
        const bool frame = r.item.kind == SourceItem::Kind::Frame;
        if (frame) {
            {
                // The lane's previous output stays as it is until the caller is done with it.
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || !lanes_[static_cast<size_t>(k)].outputHeld; });
                if (stopping_) {
                    ahead_->recycle(r.frame);
                    return;
                }
            }
            renderer_.take(k, *r.frame);
            ahead_->recycle(r.frame);  // now the buffer the lane had
            renderTaken(renderer_, k, done);
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // A ticket's slot is free once the caller took the one a ring before it.
            changed_.wait(
                lock, [&] { return stopping_ || ticket < wanted_ + static_cast<int64_t>(results_.size()); });
            if (stopping_) return;
            Result& res = slot(ticket);
            res.ready = true;
            res.lane = k;
            res.frame = done;
            if (frame) lanes_[static_cast<size_t>(k)].outputHeld = true;
            changed_.notify_all();
        }
        if (done.item.kind != SourceItem::Kind::Frame) return;
    }
}

RenderedFrame RenderFlow::next() {
    if (reading_) {
        RenderedFrame done;
        if (ended_) return done;
        FrameBuffer* frame = nullptr;
        done.item = reading_->next(frame);
        if (done.item.kind != SourceItem::Kind::Frame) {
            ended_ = true;
            return done;
        }
        renderer_.take(0, *frame);
        renderTaken(renderer_, 0, done);
        if (done.item.kind != SourceItem::Kind::Frame) ended_ = true;
        return done;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (heldLane_ >= 0) {
        lanes_[static_cast<size_t>(heldLane_)].outputHeld = false;
        heldLane_ = -1;
        changed_.notify_all();
    }
    if (ended_ || stopping_) return {};
    // A terminating signal may come to this thread while it waits: look for one now and then.
    while (!changed_.wait_for(lock, kSignalPoll, [&] { return stopping_ || slot(wanted_).ready; }))
        if (pendingSignal() != 0) {
            RenderedFrame interrupted;
            interrupted.item.kind = SourceItem::Kind::Failed;
            interrupted.item.status = Status::fail("interrupted");
            ended_ = true;
            return interrupted;
        }
    if (stopping_) return {};
    Result& res = slot(wanted_);
    RenderedFrame done = res.frame;
    res.ready = false;
    ++wanted_;
    if (done.item.kind == SourceItem::Kind::Frame) {
        heldLane_ = res.lane;
    } else {
        ended_ = true;
    }
    changed_.notify_all();
    return done;
}

void RenderFlow::stop() {
    if (lanes_.empty()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    ahead_->stop();
    for (Lane& lane : lanes_)
        if (lane.thread.joinable()) lane.thread.join();
    lanes_.clear();
}
