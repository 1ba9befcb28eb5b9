// Helper threads that share one piece of work by rows: run() splits
// [0, count) into one slice per thread, runs them at once (one on the
// caller's thread) and returns when every slice is done.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The threads a stage uses when asked for `asked` (-threads): those, or one
// per core for 0, never fewer than one.
int threadsOrCores(int asked);

class SliceWorkers {
public:
    // `threads` in all, the caller's among them; 1: run() works alone.
    explicit SliceWorkers(int threads);
    ~SliceWorkers();
    SliceWorkers(const SliceWorkers&) = delete;
    SliceWorkers& operator=(const SliceWorkers&) = delete;

    int threads() const { return static_cast<int>(helpers_.size()) + 1; }
    // work(first, last) over consecutive slices that cover [0, count).
    void run(int32_t count, const std::function<void(int32_t, int32_t)>& work);

private:
    void help(int k);

    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable start_, done_;
    const std::function<void(int32_t, int32_t)>* work_ = nullptr;
    int32_t count_ = 0;
    uint64_t round_ = 0;  // counts run() calls, so a helper takes each slice once
    int pending_ = 0;     // helpers still working on this round
    bool quitting_ = false;
};
