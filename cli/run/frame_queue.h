// A small bounded first-in first-out queue between kivrel's threads. A
// full queue holds its producer back, so a fast stage cannot run ahead of a
// slow one by more than a few frames (memory stays bounded); close() wakes
// everyone waiting, so a failure on any thread can stop the others.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

template <typename T>
class FrameQueue {
public:
    explicit FrameQueue(size_t capacity) : capacity_(capacity) {}
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Waits for room; false once the queue is closed (the item is dropped).
    bool push(T item) {
        std::unique_lock<std::mutex> lock(mutex_);
        notFull_.wait(lock, [this] { return closed_ || items_.size() < capacity_; });
        if (closed_) return false;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }

    // Waits for an item; false once the queue is closed.
    bool pop(T& item) {
        std::unique_lock<std::mutex> lock(mutex_);
        notEmpty_.wait(lock, [this] { return closed_ || !items_.empty(); });
        if (closed_) return false;
        item = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return true;
    }

    // An item if one is waiting, without waiting; false otherwise or once closed.
    bool tryPop(T& item) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (closed_ || items_.empty()) return false;
        item = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return true;
    }

    void close() {
        const std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        notFull_.notify_all();
        notEmpty_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable notFull_, notEmpty_;
    std::deque<T> items_;
    size_t capacity_;
    bool closed_ = false;
};
