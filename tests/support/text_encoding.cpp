#include "support/text_encoding.h"

#include <gtest/gtest.h>
#include <iconv.h>

std::string convertText(const std::string& text, const char* from, const char* to) {
    const iconv_t cd = ::iconv_open(to, from);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << from << " to " << to;
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    constexpr size_t kMostGrowth = 4;  // bytes out per byte in, UTF-8 from one-byte units at worst
    std::string out(text.size() * kMostGrowth, '\0');
    char* in = const_cast<char*>(text.data());
    char* at = out.data();
    size_t inLeft = text.size(), outLeft = out.size();
    EXPECT_NE(::iconv(cd, &in, &inLeft, &at, &outLeft), static_cast<size_t>(-1)) << "not convertible";
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}
