#include "os/slice_workers.h"

#include <algorithm>

namespace {

// Slice k of n over [0, count): rows first..last, the same split every time.
int32_t sliceStart(int32_t count, int k, int n) {
    return static_cast<int32_t>(static_cast<int64_t>(count) * k / n);
}

}  // namespace

int threadsOrCores(int asked) {
    if (asked > 0) return asked;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

SliceWorkers::SliceWorkers(int threads) {
    for (int k = 1; k < threads; ++k) helpers_.emplace_back([this, k] { help(k); });
}

SliceWorkers::~SliceWorkers() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quitting_ = true;
        start_.notify_all();
    }
    for (std::thread& t : helpers_) t.join();
}

void SliceWorkers::run(int32_t count, const std::function<void(int32_t, int32_t)>& work) {
    const int n = threads();
    if (n == 1 || count < n) {
        work(0, count);
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        work_ = &work;
        count_ = count;
        pending_ = n - 1;
        ++round_;
        start_.notify_all();
    }
    work(0, sliceStart(count, 1, n));
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    work_ = nullptr;
}

void SliceWorkers::help(int k) {
    uint64_t seen = 0;
    for (;;) {
        const std::function<void(int32_t, int32_t)>* work = nullptr;
        int32_t count = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            start_.wait(lock, [&] { return quitting_ || round_ != seen; });
            if (quitting_) return;
            seen = round_;
            work = work_;
            count = count_;
        }
        const int n = threads();
        (*work)(sliceStart(count, k, n), sliceStart(count, k + 1, n));
        const std::lock_guard<std::mutex> lock(mutex_);
        if (--pending_ == 0) done_.notify_one();
    }
}
