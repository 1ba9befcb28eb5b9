// Reads a fuzzer's bytes as a stream of numbers; past the end every read
// gives zero, so any input, however short, is a complete case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <typename T>
    T next() {
        T v{};
        const size_t n = size_ - pos_ < sizeof v ? size_ - pos_ : sizeof v;
        if (n > 0) std::memcpy(&v, data_ + pos_, n);
        pos_ += n;
        return v;
    }
    // A number in lo..hi (inclusive), spread evenly enough for fuzzing.
    int64_t inRange(int64_t lo, int64_t hi) {
        const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
        return lo + static_cast<int64_t>(next<uint32_t>() % span);
    }
    bool empty() const { return pos_ >= size_; }
    size_t left() const { return pos_ < size_ ? size_ - pos_ : 0; }
    const uint8_t* rest() const { return data_ + (pos_ < size_ ? pos_ : size_); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};
