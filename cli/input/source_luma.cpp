#include "input/source_luma.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "input/colour_standards.h"
#include "input/deep_samples.h"
#include "input/samples_in_place.h"

namespace {

constexpr int kByteBits = 8;
constexpr int kTopCode = kFullWhiteCode;

// Full-range RGB to limited-range luma: 16 + 219/255 * (Kr R + Kg G + Kb B),
// in fixed point with kShift fraction bits.
constexpr int kShift = 15;
constexpr int kBlackCode = kLumaBlackCode;
constexpr double kLumaSpan = kLumaCodeSpan;
constexpr double kKr = lumaWeightsOf(YuvMatrix::Bt709).kr(), kKb = lumaWeightsOf(YuvMatrix::Bt709).kb();
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
    const bool inPlace = readsInPlace(y, d->flags);
    if (inPlace && y.depth == kByteBits) {
        for (int32_t row = first; row < last; ++row) {
            const uint8_t* p = samplesAt<uint8_t>(f, y, row) + left;
            for (int x = 0; x < w; ++x) ++histogram[p[x]];
        }
        return true;
    }
    const int n = y.depth;
    // Deep samples in native words are read in place: the library's reader
    // took most of a 10-bit report's time for this count.
    std::vector<uint16_t> samples(inPlace ? 0 : static_cast<size_t>(w));
    std::vector<uint8_t> codes(static_cast<size_t>(w));
    const uint32_t mask = (1u << n) - 1;  // as the reader keeps only the component's bits
    for (int32_t row = first; row < last; ++row) {
        const uint16_t* p = samples.data();
        if (inPlace)
            p = samplesAt<uint16_t>(f, y, row) + left;
        else
            av_read_image_line2(samples.data(), const_cast<const uint8_t**>(f.data), f.linesize, d, left, row,
                                0, w, 0, sizeof(uint16_t));
        if (n > kByteBits) {
            shiftSamplesTo8(p, codes.data(), w, mask, static_cast<uint32_t>(n - kByteBits));
            for (uint8_t code : codes) ++histogram[code];
            continue;
        }
        // 8 bits or fewer, not in place: fewer (1-bit grey) span the whole 8-bit scale.
        for (int x = 0; x < w; ++x) ++histogram[static_cast<size_t>((p[x] * kTopCode + mask / 2) / mask)];
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
