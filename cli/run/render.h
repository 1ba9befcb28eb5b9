// The render stage of a run: each source frame becomes one output frame.
// A FrameRenderer (filter/frame_renderer.h) is the step itself; RenderFlow feeds it
// from the reading stage and hands the results on in the source's order,
// on one thread or, with -threads above 1, with the reading a few frames
// ahead and renders in lanes on threads of their own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "filter/frame_renderer.h"
#include "pluginhost/module_host.h"
#include "run/pipeline.h"
#include "run/read.h"

// The module, through its exports: the run's instance in lane 0, and for a
// display that keeps nothing from frame to frame, more instances set up the
// same way for the other lanes.
class ModuleRenderer final : public FrameRenderer {
public:
    // `first`: the run's instance, prepared and started.
    explicit ModuleRenderer(FilterInstance& first) : first_(first) {}
    // Up to `lanes` in all, each new instance set up by `setUp` as the
    // first was (some settings come from the run's settings store, which
    // only setting up in the same way reads the same).
    Status addLanes(const FilterModuleHost& module, int lanes,
                    const std::function<Status(FilterInstance&)>& setUp);
    // Ends the instances addLanes() made (the first is the caller's).
    Status end();

    int lanes() const override { return 1 + static_cast<int>(more_.size()); }
    void take(int k, FrameBuffer& source) override { lane(k).exchangeSource(source); }
    Status render(int lane, int64_t number, const FrameBuffer*& output) override;

private:
    FilterInstance& lane(int k) { return k == 0 ? first_ : *more_[static_cast<size_t>(k - 1)]; }

    FilterInstance& first_;
    std::vector<std::unique_ptr<FilterInstance>> more_;
};

// Whether the instance's display keeps something from one frame for the
// next (the histograms accumulating), so that frames must be rendered one
// after another by the one instance.
bool keepsStateAcrossFrames(FilterInstance& inst);

// Renders the frame `renderer` took in `lane` into `frame`, timed; a
// failure turns the frame into Failed.
void renderTaken(FrameRenderer& renderer, int lane, RenderedFrame& frame);

class RenderFlow final : public FrameSource {
public:
    // `threads` 1: everything on the caller's thread, in turn.
    RenderFlow(Reader& reader, FrameConverter& converter, const ReadRules& rules, FrameRenderer& renderer,
               int32_t w, int32_t h, ptrdiff_t pitch, int threads);
    ~RenderFlow() override;  // stop()
    RenderFlow(const RenderFlow&) = delete;
    RenderFlow& operator=(const RenderFlow&) = delete;

    RenderedFrame next() override;
    // Ends the threads, wherever they are.
    void stop();

private:
    struct Lane {
        std::thread thread;
        bool outputHeld = false;  // its last output is the caller's until the next next()
    };
    struct Result {
        bool ready = false;
        int lane = 0;
        RenderedFrame frame;
    };
    void runLane(int k);
    Result& slot(int64_t ticket) { return results_[static_cast<size_t>(ticket) % results_.size()]; }

    FrameRenderer& renderer_;
    // One thread:
    std::optional<ReadStage> reading_;
    bool ended_ = false;
    // Threads:
    std::optional<ReadAhead> ahead_;
    std::vector<Lane> lanes_;
    std::mutex takeMutex_;    // taking the next item and its ticket
    int64_t nextTicket_ = 0;  // under takeMutex_
    std::mutex mutex_;        // the rest
    std::condition_variable changed_;
    std::vector<Result> results_;  // by ticket, round the ring
    int64_t wanted_ = 0;           // the ticket next() hands on next
    int heldLane_ = -1;            // whose output the caller has
    bool stopping_ = false;
};
