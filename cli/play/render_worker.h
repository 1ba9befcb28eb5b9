// One thread that renders the viewer's next frame while the main thread
// presents the one before: a job handed over, then waited for. Only one job
// is ever out, so whatever it touches (the session, the module's instances,
// their output) is the worker's until wait() returns and the main thread's
// after; the job's hand-over through the queues orders the two.
#pragma once

#include <functional>
#include <thread>

#include "run/frame_queue.h"

class RenderWorker {
public:
    RenderWorker();
    ~RenderWorker();  // waits for a job still out, then ends the thread
    RenderWorker(const RenderWorker&) = delete;
    RenderWorker& operator=(const RenderWorker&) = delete;

    // Runs `job` on the worker's thread; none may be out already.
    void start(std::function<void()> job);
    // Whether a job was started and not yet waited for.
    bool busy() const { return busy_; }
    // Until the job started last has run (at once when none is out).
    void wait();

private:
    FrameQueue<std::function<void()>> jobs_{1};
    FrameQueue<bool> done_{1};
    std::thread thread_;
    bool busy_ = false;  // the main thread's own record: only it starts and waits
};
