#include "input/source_planes.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kByteBits = 8;
constexpr int kMaxBits = 16;
constexpr int kWeightScale = 10000;  // the matrices' weights are given to four decimals

// Luma weights of red and blue, in 1/kWeightScale; green takes the rest.
struct Weights {
    int64_t red, blue;
};
constexpr Weights kWeights[] = {
    {2990, 1140},  // BT.601
    {2126, 722},   // BT.709
    {2627, 593},   // BT.2020 (non-constant luminance)
};

// Nominal black, the span from black to white, and the span of each colour
// difference, at 8 bits; deeper code values scale by 2^(bits - 8).
constexpr int32_t kNarrowBlack = 16, kNarrowLumaSpan = 219, kNarrowChromaSpan = 224, kChromaZero = 128;

// A sum of weight * (sample - centre) stays within this, so that a
// numerator never overflows; the margin leaves room for the rounding's 2n + den.
constexpr int64_t kNumeratorLimit = int64_t{1} << 61;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// Whether the machine reads a component directly: whole bytes or native
// 16-bit words, one sample per step, nothing packed around it.
bool direct(const AVComponentDescriptor& c, uint64_t flags) {
    const bool be = (flags & AV_PIX_FMT_FLAG_BE) != 0;
    if (c.shift != 0 || c.offset != 0) return false;
    if (c.depth == kByteBits) return c.step == 1;
    return c.depth > kByteBits && c.step == 2 && be == (std::endian::native == std::endian::big);
}

}  // namespace

void SourcePart::clear() {
    std::fill(std::begin(lowest), std::end(lowest), INT64_MAX);
    std::fill(std::begin(highest), std::end(highest), INT64_MIN);
    outside = pixels = 0;
}

void SourcePart::add(const SourcePart& other) {
    for (int m = 0; m < kMeasureCount; ++m) {
        lowest[m] = std::min(lowest[m], other.lowest[m]);
        highest[m] = std::max(highest[m], other.highest[m]);
    }
    outside += other.outside;
    pixels += other.pixels;
}

bool SourceGauge::setUp(int pixelFormat, const SourceLevels& levels) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
    if (d == nullptr || !levels.yuv || d->nb_components == 0 ||
        (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) != 0)
        return false;
    const int n = d->comp[0].depth;
    if (n < kByteBits || n > kMaxBits) return false;
    const bool grey = d->nb_components < 3;
    if (!grey && (d->comp[1].depth != n || d->comp[2].depth != n)) return false;
    pixelFormat_ = pixelFormat;
    bits_ = n;
    chromaW_ = d->log2_chroma_w;
    chromaH_ = d->log2_chroma_h;
    planar_ = !grey && (d->flags & AV_PIX_FMT_FLAG_PLANAR) != 0 && d->comp[0].plane == 0 &&
              d->comp[1].plane == 1 && d->comp[2].plane == 2 && direct(d->comp[0], d->flags) &&
              direct(d->comp[1], d->flags) && direct(d->comp[2], d->flags);

    // y = (Y - yOrigin) / ySpan, pb = (Cb - cOrigin) / cSpan, pr likewise;
    // R' = y + 2 (1 - Kr) pr, B' = y + 2 (1 - Kb) pb, G' = (y - Kr R' - Kb B') / Kg;
    // each coded as outBlack + outSpan * R'. Every weight over one
    // denominator, ySpan * cSpan * kWeightScale * Kg, in integers.
    const int64_t scale = int64_t{1} << (n - kByteBits);
    const int64_t top = (int64_t{1} << n) - 1;
    const int64_t ySpan = levels.fullRange ? top : kNarrowLumaSpan * scale;
    const int64_t cSpan = levels.fullRange ? top : kNarrowChromaSpan * scale;
    yOrigin_ = static_cast<int32_t>(levels.fullRange ? 0 : kNarrowBlack * scale);
    cOrigin_ = static_cast<int32_t>(kChromaZero * scale);
    outBlack_ = static_cast<int32_t>(kNarrowBlack * scale);
    const int64_t outSpan = kNarrowLumaSpan * scale;
    const Weights& k = kWeights[static_cast<int>(levels.matrix)];
    const int64_t kg = kWeightScale - k.red - k.blue;
    const int64_t den = ySpan * cSpan * kWeightScale * kg;
    const int64_t fromY = outSpan * cSpan * kWeightScale * kg;
    const int64_t redDiff = 2 * (kWeightScale - k.red), blueDiff = 2 * (kWeightScale - k.blue);
    const Channel whole[3] = {
        {fromY, 0, outSpan * ySpan * redDiff * kg},
        {fromY, -outSpan * ySpan * k.blue * blueDiff, -outSpan * ySpan * k.red * redDiff},
        {fromY, outSpan * ySpan * blueDiff * kg, 0},
    };
    // Each channel over its own smallest denominator.
    for (int c = 0; c < 3; ++c) {
        Channel ch = whole[c];
        const int64_t g = std::gcd(std::gcd(den, ch.fromY), std::gcd(ch.fromCb, ch.fromCr));
        ch.fromY /= g;
        ch.fromCb /= g;
        ch.fromCr /= g;
        const int64_t chDen = den / g;
        const int64_t most = (std::abs(ch.fromY) + std::abs(ch.fromCb) + std::abs(ch.fromCr)) * (top + 1);
        if (most > kNumeratorLimit || chDen > kNumeratorLimit / (top + 1)) return false;
        rgb_[c] = ch;
        dens_[c] = chDen;
    }
    setBounds(SourceBounds{});
    return true;
}

void SourceGauge::setBounds(const SourceBounds& bounds) {
    bounds_ = bounds;
    for (int c = 0; c < 3; ++c) {
        // code = outBlack + floor((2n + den) / 2den): inside lo..hi exactly
        // when den (lo - outBlack) - den/2 <= n < den (hi - outBlack) + (den + 1)/2.
        const int64_t den = dens_[c];
        Channel& ch = rgb_[c];
        ch.lowNumerator = bounds.rgbLo == INT32_MIN ? INT64_MIN : den * (bounds.rgbLo - outBlack_) - den / 2;
        ch.highNumerator =
            bounds.rgbHi == INT32_MAX ? INT64_MAX : den * (bounds.rgbHi - outBlack_) + (den + 1) / 2;
    }
}

template <typename Sample>
void SourceGauge::measureRow(const Sample* y, const Sample* cb, const Sample* cr, int32_t left, int32_t right,
                             int chromaShift, SourcePart& part) const {
    const SourceBounds& b = bounds_;
    // Y, Cb and Cr in passes of their own, which the compiler turns into
    // vector code; every chroma sample in left >> shift..(right - 1) >> shift
    // covers at least one pixel of the window.
    const int32_t cFirst = left >> chromaShift, cEnd = ((right - 1) >> chromaShift) + 1;
    int32_t lumaLo = INT32_MAX, lumaHi = INT32_MIN, cbLo = INT32_MAX, cbHi = INT32_MIN, crLo = INT32_MAX,
            crHi = INT32_MIN;
    for (int32_t x = left; x < right; ++x) {
        lumaLo = std::min<int32_t>(lumaLo, y[x]);
        lumaHi = std::max<int32_t>(lumaHi, y[x]);
    }
    for (int32_t x = cFirst; x < cEnd; ++x) {
        cbLo = std::min<int32_t>(cbLo, cb[x]);
        cbHi = std::max<int32_t>(cbHi, cb[x]);
        crLo = std::min<int32_t>(crLo, cr[x]);
        crHi = std::max<int32_t>(crHi, cr[x]);
    }
    const int32_t plain[] = {lumaLo, lumaHi, cbLo, cbHi, crLo, crHi};
    for (int m = SourcePart::kY; m <= SourcePart::kCr; ++m) {
        part.lowest[m] = std::min<int64_t>(part.lowest[m], plain[2 * m]);
        part.highest[m] = std::max<int64_t>(part.highest[m], plain[2 * m + 1]);
    }
    // R, G and B of each pixel; the tests without branches, as data decides them.
    const Channel &r = rgb_[0], &g = rgb_[1], &bl = rgb_[2];
    int64_t rLo = part.lowest[SourcePart::kR], rHi = part.highest[SourcePart::kR];
    int64_t gLo = part.lowest[SourcePart::kG], gHi = part.highest[SourcePart::kG];
    int64_t bLo = part.lowest[SourcePart::kB], bHi = part.highest[SourcePart::kB];
    int64_t outside = 0;
    for (int32_t x = left; x < right; ++x) {
        const int32_t Y = y[x], Cb = cb[x >> chromaShift], Cr = cr[x >> chromaShift];
        const int64_t dy = Y - yOrigin_, dcb = Cb - cOrigin_, dcr = Cr - cOrigin_;
        const int64_t nr = r.fromY * dy + r.fromCr * dcr;
        const int64_t ng = g.fromY * dy + g.fromCb * dcb + g.fromCr * dcr;
        const int64_t nb = bl.fromY * dy + bl.fromCb * dcb;
        rLo = std::min(rLo, nr);
        rHi = std::max(rHi, nr);
        gLo = std::min(gLo, ng);
        gHi = std::max(gHi, ng);
        bLo = std::min(bLo, nb);
        bHi = std::max(bHi, nb);
        const int out = (Y < b.lumaLo) | (Y > b.lumaHi) | (Cb < b.chromaLo) | (Cb > b.chromaHi) |
                        (Cr < b.chromaLo) | (Cr > b.chromaHi) | (nr < r.lowNumerator) | (nr >= r.highNumerator) |
                        (ng < g.lowNumerator) | (ng >= g.highNumerator) | (nb < bl.lowNumerator) |
                        (nb >= bl.highNumerator);
        outside += out;
    }
    part.lowest[SourcePart::kR] = rLo;
    part.highest[SourcePart::kR] = rHi;
    part.lowest[SourcePart::kG] = gLo;
    part.highest[SourcePart::kG] = gHi;
    part.lowest[SourcePart::kB] = bLo;
    part.highest[SourcePart::kB] = bHi;
    part.outside += outside;
    part.pixels += right - left;
}

template <typename Sample>
void SourceGauge::measurePlanar(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const {
    const auto row = [&](int plane, int32_t k) {
        return reinterpret_cast<const Sample*>(f.data[plane] + static_cast<ptrdiff_t>(k) * f.linesize[plane]);
    };
    for (int32_t k = window.first; k < window.last; ++k)
        measureRow(row(0, k), row(1, k >> chromaH_), row(2, k >> chromaH_), window.left, window.right,
                   chromaW_, part);
}

void SourceGauge::measureAnyLayout(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
    const int32_t w = f.width, cw = -((-w) >> chromaW_);
    std::vector<uint16_t> y(static_cast<size_t>(w)),
        cb(static_cast<size_t>(cw), static_cast<uint16_t>(cOrigin_)), cr(cb);
    const auto read = [&](std::vector<uint16_t>& to, int c, int32_t k, int32_t n) {
        av_read_image_line2(to.data(), const_cast<const uint8_t**>(f.data), f.linesize, d, 0, k, c, n, 0,
                            sizeof(uint16_t));
    };
    const bool grey = d->nb_components < 3;
    for (int32_t k = window.first; k < window.last; ++k) {
        read(y, 0, k, w);
        if (!grey) {
            read(cb, 1, k >> chromaH_, cw);
            read(cr, 2, k >> chromaH_, cw);
        }
        measureRow(y.data(), cb.data(), cr.data(), window.left, window.right, chromaW_, part);
    }
}

void SourceGauge::measure(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const {
    if (f.format != pixelFormat_ || window.left >= window.right) return;
    if (!planar_)
        measureAnyLayout(f, window, part);
    else if (bits_ == kByteBits)
        measurePlanar<uint8_t>(f, window, part);
    else
        measurePlanar<uint16_t>(f, window, part);
}

SourceExtremes SourceGauge::extremes(const SourcePart& whole) const {
    SourceExtremes e;
    e.outside = whole.outside;
    e.pixels = whole.pixels;
    for (int m = 0; m < SourcePart::kMeasureCount; ++m) {
        if (whole.pixels == 0) {
            e.lowest[m] = e.highest[m] = -1;
            continue;
        }
        if (m < SourcePart::kR) {
            e.lowest[m] = static_cast<int32_t>(whole.lowest[m]);
            e.highest[m] = static_cast<int32_t>(whole.highest[m]);
            continue;
        }
        // Rounding keeps order, so the extremes' codes are the codes' extremes.
        const int64_t den = dens_[m - SourcePart::kR];
        const auto code = [&](int64_t n) {
            return static_cast<int32_t>(outBlack_ + floorDiv(2 * n + den, 2 * den));
        };
        e.lowest[m] = code(whole.lowest[m]);
        e.highest[m] = code(whole.highest[m]);
    }
    return e;
}
