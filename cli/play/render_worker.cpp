#include "play/render_worker.h"

#include <utility>

RenderWorker::RenderWorker() {
    thread_ = std::thread([this] {
        std::function<void()> job;
        while (jobs_.pop(job)) {
            job();
            job = nullptr;  // what it holds goes before the main thread is told
            if (!done_.push(true)) return;
        }
    });
}

RenderWorker::~RenderWorker() {
    wait();
    jobs_.close();
    done_.close();
    thread_.join();
}

void RenderWorker::start(std::function<void()> job) {
    wait();
    busy_ = true;
    (void)jobs_.push(std::move(job));
}

void RenderWorker::wait() {
    if (!busy_) return;
    bool ok = false;
    (void)done_.pop(ok);
    busy_ = false;
}
