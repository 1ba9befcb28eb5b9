#include "report/percent_limit.h"

#include <cassert>
#include <charconv>
#include <cmath>

namespace {

constexpr int32_t kWholeFrame = 100;   // percent
constexpr int64_t kPercentDigits = 2;  // a percentage is a fraction shifted two decimal places
constexpr int64_t kBase = 10;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool PercentLimit::parse(std::string_view text, PercentLimit& out) {
    double v = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, v, std::chars_format::fixed);
    if (text.empty() || ec != std::errc() || stop != end || !std::isfinite(v) || v < 0.0 || v > kWholeFrame)
        return false;
    // What from_chars took, digit by digit: a sign only on zero ("-0"), which
    // the bounds above let through.
    std::string_view digits = text;
    if (digits.front() == '-') digits.remove_prefix(1);
    const size_t point = digits.find('.');
    const std::string_view whole = digits.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : digits.substr(point + 1);
    for (char c : whole)
        if (!isDigit(c)) return false;
    for (char c : fraction)
        if (!isDigit(c)) return false;
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    PercentLimit p;
    for (char c : whole) {
        p.whole_ = p.whole_ * kBase + (c - '0');
        if (p.whole_ > kWholeFrame) return false;  // leading zeros aside, from_chars said no more than 100
    }
    // A hair above 100 (rounded to 100 by from_chars) is taken as written:
    // no frame's share is more.
    p.decimals_ = fraction;
    p.value_ = v;
    out = p;
    return true;
}

PercentLimit PercentLimit::whole(int32_t percent) {
    assert(percent >= 0 && percent <= kWholeFrame);
    PercentLimit p;
    p.whole_ = percent;
    p.value_ = percent;
    return p;
}

bool PercentLimit::exceededBy(int64_t count, int64_t pixels) const {
    if (pixels <= 0 || count <= 0) return false;
    if (count > pixels) return true;
    assert(pixels <= INT64_MAX / kBase);
    // count / pixels against the limit / 100, one decimal digit at a time:
    // the long division's remainder stays below pixels, so ten times it
    // fits (frames are far below 2^59 pixels), and the limit's digits are
    // read as written, so nothing is rounded.
    const int64_t ratioWhole = count / pixels;
    int64_t remainder = count % pixels;
    const int64_t limitWhole = whole_ / kWholeFrame;  // 1 for 100 %, else 0
    if (ratioWhole != limitWhole) return ratioWhole > limitWhole;
    const int32_t hundredths = whole_ % kWholeFrame;  // of the whole frame
    const char leading[kPercentDigits] = {static_cast<char>('0' + hundredths / kBase),
                                          static_cast<char>('0' + hundredths % kBase)};
    const auto compareDigit = [&](char limitDigit) {
        remainder *= kBase;
        const int64_t digit = remainder / pixels;
        remainder %= pixels;
        return static_cast<int>(digit - (limitDigit - '0'));
    };
    for (char d : leading)
        if (const int c = compareDigit(d); c != 0) return c > 0;
    for (char d : decimals_)
        if (const int c = compareDigit(d); c != 0) return c > 0;
    // Equal in every digit the limit has: more only with something left over.
    return remainder > 0;
}

std::string PercentLimit::text(int leastDecimals) const {
    std::string decimals = decimals_;
    if (decimals.size() < static_cast<size_t>(leastDecimals))
        decimals.resize(static_cast<size_t>(leastDecimals), '0');
    return std::to_string(whole_) + (decimals.empty() ? "" : "." + decimals);
}
