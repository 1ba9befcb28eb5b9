// A rule's share of a frame (--max-hot, --area) as the decimal given,
// exactly: a frame whose share equals the limit passes, one pixel more
// breaks, whatever the frame's size and however many decimals the limit
// has. The double is for display only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class PercentLimit {
public:
    PercentLimit() = default;
    // The forms std::from_chars takes as a fixed decimal ("0.5", ".5", "5.",
    // "100"), from 0 to 100; false for anything else, leaving `out` alone.
    static bool parse(std::string_view text, PercentLimit& out);
    // A whole number of percent, 0..100.
    static PercentLimit whole(int32_t percent);

    // Whether `count` of `pixels` is more than this share of them; never for
    // a frame without pixels. Integer arithmetic only.
    bool exceededBy(int64_t count, int64_t pixels) const;

    double value() const { return value_; }
    bool isZero() const { return whole_ == 0 && decimals_.empty(); }
    // Exactly as given, with at least `leastDecimals` decimals ("0.0100").
    std::string text(int leastDecimals) const;

    bool operator==(const PercentLimit& other) const {
        return whole_ == other.whole_ && decimals_ == other.decimals_;
    }

private:
    int32_t whole_ = 0;     // 0..100
    std::string decimals_;  // the digits after the point, trailing zeros left out
    double value_ = 0.0;
};
