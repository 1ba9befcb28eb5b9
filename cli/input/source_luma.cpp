#include "input/source_luma.h"

#include <algorithm>
#include <bit>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kByteBits = 8;
constexpr int kWordBits = 16;
constexpr int kTopCode = 255;

// Full-range RGB to limited-range luma: 16 + 219/255 * (Kr R + Kg G + Kb B),
// in fixed point with kShift fraction bits.
constexpr int kShift = 15;
constexpr int kBlackCode = 16;                // Rec. 709 nominal black
constexpr double kLumaSpan = 219.0;           // 235 - 16
constexpr double kKr = 0.2126, kKb = 0.0722;  // Rec. 709 luma weights
constexpr int32_t fixedPoint(double v) { return static_cast<int32_t>(v * (1 << kShift) / kTopCode + 0.5); }
constexpr int32_t kWeightSum = fixedPoint(kLumaSpan);
constexpr int32_t kWeightR = fixedPoint(kLumaSpan * kKr), kWeightB = fixedPoint(kLumaSpan * kKb);
// Green takes the rest, so white lands on 235 exactly.
constexpr int32_t kWeightG = kWeightSum - kWeightR - kWeightB;
static_assert((kWeightSum * kTopCode + (1 << (kShift - 1))) >> kShift == kLumaSpan, "white must give 235");

}  // namespace

bool tallyYPlane(const AVFrame& f, const PlaneWindow& window, LumaHistogram& histogram) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
    if (d == nullptr || d->nb_components == 0 ||
        (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0)
        return false;
    const AVComponentDescriptor& y = d->comp[0];
    const int32_t first = window.first, last = window.last, left = window.left, w = window.right - left;
    if (y.depth == kByteBits && y.step == 1 && y.shift == 0 && (d->flags & AV_PIX_FMT_FLAG_BITSTREAM) == 0) {
        for (int32_t row = first; row < last; ++row) {
            const uint8_t* p =
                f.data[y.plane] + static_cast<ptrdiff_t>(row) * f.linesize[y.plane] + y.offset + left;
            for (int x = 0; x < w; ++x) ++histogram[p[x]];
        }
        return true;
    }
    const int n = y.depth;
    // Fewer than 8 bits (1-bit grey) span the whole 8-bit scale.
    const auto add = [&](int v) {
        const int code = n > kByteBits   ? (v + (1 << (n - kByteBits - 1))) >> (n - kByteBits)
                         : n < kByteBits ? (v * kTopCode + ((1 << n) - 1) / 2) / ((1 << n) - 1)
                                         : v;
        ++histogram[static_cast<size_t>(std::min(code, kTopCode))];
    };
    // Deep samples in native words, read in place: the library's reader,
    // below, took most of a 10-bit report's time for this count.
    const bool bigEndian = (d->flags & AV_PIX_FMT_FLAG_BE) != 0;
    if (n > kByteBits && n <= kWordBits && y.step == sizeof(uint16_t) && y.shift == 0 &&
        bigEndian == (std::endian::native == std::endian::big) &&
        (d->flags & AV_PIX_FMT_FLAG_BITSTREAM) == 0) {
        const int mask = (1 << n) - 1;  // as the reader keeps only the component's bits
        for (int32_t row = first; row < last; ++row) {
            const uint16_t* p =
                reinterpret_cast<const uint16_t*>(
                    f.data[y.plane] + static_cast<ptrdiff_t>(row) * f.linesize[y.plane] + y.offset) +
                left;
            for (int x = 0; x < w; ++x) add(p[x] & mask);
        }
        return true;
    }
    // Any other layout or depth through the library's reader of one component.
    std::vector<uint16_t> samples(static_cast<size_t>(w));
    for (int32_t row = first; row < last; ++row) {
        av_read_image_line2(samples.data(), const_cast<const uint8_t**>(f.data), f.linesize, d, left, row, 0,
                            w, 0, sizeof(uint16_t));
        for (int x = 0; x < w; ++x) add(samples[static_cast<size_t>(x)]);
    }
    return true;
}

void tallyRgbLuma(const ConstFrame& rows, LumaHistogram& histogram) {
    constexpr int kRedShift = 16, kGreenShift = 8;
    constexpr uint32_t kByte = 0xFF;
    constexpr int32_t kHalf = 1 << (kShift - 1);
    for (int32_t k = 0; k < rows.h; ++k) {
        const uint32_t* p = rows.storedRow(k);
        for (int32_t x = 0; x < rows.w; ++x) {
            const int32_t r = static_cast<int32_t>(p[x] >> kRedShift & kByte);
            const int32_t g = static_cast<int32_t>(p[x] >> kGreenShift & kByte);
            const int32_t b = static_cast<int32_t>(p[x] & kByte);
            ++histogram[static_cast<size_t>(
                kBlackCode + ((kWeightR * r + kWeightG * g + kWeightB * b + kHalf) >> kShift))];
        }
    }
}
