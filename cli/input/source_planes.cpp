#include "input/source_planes.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "input/samples_in_place.h"

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

// FFmpeg subsamples chroma rows by at most four, so that many luma rows share one.
constexpr int kMostChromaRowsLog2 = 2;
constexpr int kMostGroupRows = 1 << kMostChromaRowsLog2;

// Just beyond every sample a plane can hold: Y's interval, clipped to
// these, judges every sample as the unclipped one would.
constexpr int64_t kBelowEveryY = -1, kAboveEveryY = int64_t{1} << kMaxBits;
// A quotient standing for a bound not judged: far beyond any Y once the
// other chroma's quotient (within a few times the largest sample) is taken off.
constexpr int64_t kFarQuotient = int64_t{1} << 40;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }
int64_t ceilDiv(int64_t a, int64_t b) { return -floorDiv(-a, b); }
int32_t clipY(int64_t y) { return static_cast<int32_t>(std::clamp(y, kBelowEveryY, kAboveEveryY)); }

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
    if (chromaH_ > kMostChromaRowsLog2) return false;
    planar_ = !grey && (d->flags & AV_PIX_FMT_FLAG_PLANAR) != 0 && d->comp[0].plane == 0 &&
              d->comp[1].plane == 1 && d->comp[2].plane == 2 && readsInPlace(d->comp[0], d->flags) &&
              readsInPlace(d->comp[1], d->flags) && readsInPlace(d->comp[2], d->flags);

    // y = (Y - black) / ySpan, pb = (Cb - cOrigin) / cSpan, pr likewise;
    // R' = y + 2 (1 - Kr) pr, B' = y + 2 (1 - Kb) pb, G' = (y - Kr R' - Kb B') / Kg;
    // each coded as black + ySpan * R', so that a grey pixel's R, G and B
    // are its Y. The code values are read as broadcast codes them whatever
    // the range tag: a delivery check judges what the file holds, and a
    // full-range file is a finding of its own, not a reason to move the
    // limits. Every weight over one denominator, ySpan * cSpan *
    // kWeightScale * Kg, in integers.
    const int64_t scale = int64_t{1} << (n - kByteBits);
    const int64_t top = (int64_t{1} << n) - 1;
    const int64_t ySpan = kNarrowLumaSpan * scale;
    const int64_t cSpan = kNarrowChromaSpan * scale;
    yOrigin_ = static_cast<int32_t>(kNarrowBlack * scale);
    cOrigin_ = static_cast<int32_t>(kChromaZero * scale);
    outBlack_ = yOrigin_;
    const int64_t outSpan = ySpan;
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
    buildTables();
}

void SourceGauge::buildTables() {
    const Channel &r = rgb_[0], &g = rgb_[1], &bl = rgb_[2];
    const SourceBounds& k = bounds_;
    // Y inside a channel's bounds, the rest of its numerator being `rest`:
    // lowNumerator <= fromY (Y - yOrigin) + rest < highNumerator, and inside
    // the luma bounds; nothing when the chroma sample itself is outside.
    const auto interval = [&](const Channel& ch, int64_t rest, int32_t chroma, int32_t& lo, int32_t& hi) {
        const int64_t least = ch.lowNumerator == INT64_MIN
                                  ? kBelowEveryY
                                  : yOrigin_ + ceilDiv(ch.lowNumerator - rest, ch.fromY);
        const int64_t most = ch.highNumerator == INT64_MAX
                                 ? kAboveEveryY
                                 : yOrigin_ + floorDiv(ch.highNumerator - 1 - rest, ch.fromY);
        lo = clipY(std::max<int64_t>(least, k.lumaLo));
        hi = clipY(std::min<int64_t>(most, k.lumaHi));
        if (chroma < k.chromaLo || chroma > k.chromaHi) {
            lo = static_cast<int32_t>(kAboveEveryY);
            hi = static_cast<int32_t>(kBelowEveryY);
        }
    };
    // n = q fromY + rem, 0 <= rem < fromY.
    const auto split = [&](int64_t n, int64_t& q, int64_t& rem) {
        q = floorDiv(n, g.fromY);
        rem = n - q * g.fromY;
    };
    const size_t values = size_t{1} << bits_;
    byCb_.resize(values);
    byCr_.resize(values);
    for (size_t c = 0; c < values; ++c) {
        const int32_t code = static_cast<int32_t>(c);
        const int64_t diff = code - cOrigin_;
        ByCb& u = byCb_[c];
        u.blue = bl.fromCb * diff;
        u.green = g.fromCb * diff;
        interval(bl, u.blue, code, u.lo, u.hi);
        if (g.lowNumerator == INT64_MIN) {
            u.greenLoQ = -kFarQuotient;
            u.greenLoR = 0;
        } else {
            split(g.lowNumerator - u.green, u.greenLoQ, u.greenLoR);
        }
        if (g.highNumerator == INT64_MAX) {
            u.greenHiQ = kFarQuotient;
            u.greenHiR = 0;
        } else {
            split(g.highNumerator - 1 - u.green, u.greenHiQ, u.greenHiR);
        }
        ByCr& v = byCr_[c];
        v.red = r.fromCr * diff;
        v.green = g.fromCr * diff;
        interval(r, v.red, code, v.lo, v.hi);
        split(v.green, v.greenQ, v.greenR);
    }
}

namespace {

// A run's Y, Cb and Cr extremes (lowest, highest of each, in that order)
// folded into the part.
void foldPlain(SourcePart& part, const int32_t (&plain)[6]) {
    for (int m = SourcePart::kY; m <= SourcePart::kCr; ++m) {
        part.lowest[m] = std::min<int64_t>(part.lowest[m], plain[2 * m]);
        part.highest[m] = std::max<int64_t>(part.highest[m], plain[2 * m + 1]);
    }
}

// A run's R, G and B extremes, which began from the part's own, and its
// pixels and those outside the bounds.
void closeRun(SourcePart& part, const int64_t (&rgb)[6], int64_t outside, int64_t pixels) {
    for (int c = 0; c < 3; ++c) {
        part.lowest[SourcePart::kR + c] = rgb[2 * c];
        part.highest[SourcePart::kR + c] = rgb[2 * c + 1];
    }
    part.outside += outside;
    part.pixels += pixels;
}

}  // namespace

template <typename Sample>
void SourceGauge::measureEach(const Sample* y, const Sample* cb, const Sample* cr, int32_t left,
                              int32_t right, SourcePart& part) const {
    const int chromaShift = chromaW_;
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
    foldPlain(part, plain);
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
                        (Cr < b.chromaLo) | (Cr > b.chromaHi) | (nr < r.lowNumerator) |
                        (nr >= r.highNumerator) | (ng < g.lowNumerator) | (ng >= g.highNumerator) |
                        (nb < bl.lowNumerator) | (nb >= bl.highNumerator);
        outside += out;
    }
    closeRun(part, {rLo, rHi, gLo, gHi, bLo, bHi}, outside, right - left);
}

namespace {

// Chroma samples taken in one pass: their Y extremes stay on the stack.
constexpr int32_t kPassSamples = 256;
// Chroma samples judged together before any is judged alone.
constexpr int32_t kBlockSamples = 16;

// Each chroma sample's lowest and highest Y over the rows `ys`, for samples
// s0..s1 - 1 whose columns all lie in the window: a fixed number of columns
// a sample and results of the samples' own type, so that the compiler makes
// vector code of it.
template <int Shift, typename Sample>
void wholeSampleExtremes(const Sample* const* ys, int rows, int32_t s0, int32_t s1, Sample* __restrict low,
                         Sample* __restrict high) {
    constexpr int kSpan = 1 << Shift;
    const int32_t n = s1 - s0;
    for (int k = 0; k < rows; ++k) {
        const Sample* __restrict y = ys[k] + (static_cast<ptrdiff_t>(s0) << Shift);
        for (int32_t i = 0; i < n; ++i) {
            Sample lo = y[i * kSpan], hi = lo;
            for (int j = 1; j < kSpan; ++j) {
                lo = std::min(lo, y[i * kSpan + j]);
                hi = std::max(hi, y[i * kSpan + j]);
            }
            low[i] = k == 0 ? lo : std::min(low[i], lo);
            high[i] = k == 0 ? hi : std::max(high[i], hi);
        }
    }
}

// The same for one sample's columns x0..x1 - 1, however many.
template <typename Sample>
void sampleExtremes(const Sample* const* ys, int rows, int32_t x0, int32_t x1, Sample& low, Sample& high) {
    low = ys[0][x0];
    high = low;
    for (int k = 0; k < rows; ++k)
        for (int32_t x = x0; x < x1; ++x) {
            low = std::min(low, ys[k][x]);
            high = std::max(high, ys[k][x]);
        }
}

}  // namespace

template <typename Sample>
void SourceGauge::measureGroup(const Sample* const* ys, int rows, const Sample* cb, const Sample* cr,
                               int32_t left, int32_t right, SourcePart& part) const {
    const int shift = chromaW_;
    const int32_t cFirst = left >> shift, cEnd = ((right - 1) >> shift) + 1;
    int32_t cbLo = INT32_MAX, cbHi = INT32_MIN, crLo = INT32_MAX, crHi = INT32_MIN;
    for (int32_t x = cFirst; x < cEnd; ++x) {
        cbLo = std::min<int32_t>(cbLo, cb[x]);
        cbHi = std::max<int32_t>(cbHi, cb[x]);
        crLo = std::min<int32_t>(crLo, cr[x]);
        crHi = std::max<int32_t>(crHi, cr[x]);
    }
    if (static_cast<size_t>(std::max(cbHi, crHi)) >= byCb_.size()) {
        for (int k = 0; k < rows; ++k) measureEach(ys[k], cb, cr, left, right, part);
        return;
    }
    const Channel &r = rgb_[0], &g = rgb_[1], &bl = rgb_[2];
    int32_t yLo = INT32_MAX, yHi = INT32_MIN;
    int64_t rLo = part.lowest[SourcePart::kR], rHi = part.highest[SourcePart::kR];
    int64_t gLo = part.lowest[SourcePart::kG], gHi = part.highest[SourcePart::kG];
    int64_t bLo = part.lowest[SourcePart::kB], bHi = part.highest[SourcePart::kB];
    int64_t outside = 0;
    // The samples every column of which the window holds; the one at each
    // end may be cut.
    const int32_t wholeFirst = (left + (1 << shift) - 1) >> shift, wholeEnd = right >> shift;
    Sample low[kPassSamples], high[kPassSamples];
    for (int32_t c0 = cFirst; c0 < cEnd; c0 += kPassSamples) {
        const int32_t c1 = std::min(cEnd, c0 + kPassSamples);
        const int32_t w0 = std::clamp(wholeFirst, c0, c1), w1 = std::clamp(wholeEnd, w0, c1);
        switch (shift) {
        case 0: wholeSampleExtremes<0>(ys, rows, w0, w1, low + (w0 - c0), high + (w0 - c0)); break;
        case 1: wholeSampleExtremes<1>(ys, rows, w0, w1, low + (w0 - c0), high + (w0 - c0)); break;
        default: wholeSampleExtremes<2>(ys, rows, w0, w1, low + (w0 - c0), high + (w0 - c0)); break;
        }
        const auto cut = [&](int32_t s) {
            sampleExtremes(ys, rows, std::max(left, s << shift), std::min(right, (s + 1) << shift),
                           low[s - c0], high[s - c0]);
        };
        for (int32_t s = c0; s < w0; ++s) cut(s);
        for (int32_t s = w1; s < c1; ++s) cut(s);

        for (int32_t b0 = c0; b0 < c1; b0 += kBlockSamples) {
            const int32_t b1 = std::min(c1, b0 + kBlockSamples);
            // A block whose every pixel lies inside the bounds and within the
            // extremes so far changes nothing but Y's extremes: R, G and B
            // are monotonic in Y, Cb and Cr, so the corners of the block's
            // box of the three bound every pixel of it.
            Sample bLowY = low[b0 - c0], bHighY = high[b0 - c0], cbMin = cb[b0], cbMax = cb[b0],
                   crMin = cr[b0], crMax = cr[b0];
            for (int32_t s = b0 + 1; s < b1; ++s) {
                bLowY = std::min(bLowY, low[s - c0]);
                bHighY = std::max(bHighY, high[s - c0]);
                cbMin = std::min(cbMin, cb[s]);
                cbMax = std::max(cbMax, cb[s]);
                crMin = std::min(crMin, cr[s]);
                crMax = std::max(crMax, cr[s]);
            }
            const int64_t dLow = bLowY - yOrigin_, dHigh = bHighY - yOrigin_;
            const ByCb &uMin = byCb_[cbMin], &uMax = byCb_[cbMax];
            const ByCr &vMin = byCr_[crMin], &vMax = byCr_[crMax];
            const int64_t boxR[2] = {r.fromY * dLow + std::min(vMin.red, vMax.red),
                                     r.fromY * dHigh + std::max(vMin.red, vMax.red)};
            const int64_t boxG[2] = {
                g.fromY * dLow + std::min(uMin.green, uMax.green) + std::min(vMin.green, vMax.green),
                g.fromY * dHigh + std::max(uMin.green, uMax.green) + std::max(vMin.green, vMax.green)};
            const int64_t boxB[2] = {bl.fromY * dLow + std::min(uMin.blue, uMax.blue),
                                     bl.fromY * dHigh + std::max(uMin.blue, uMax.blue)};
            const SourceBounds& k = bounds_;
            const bool quiet =
                bLowY >= k.lumaLo && bHighY <= k.lumaHi && cbMin >= k.chromaLo && cbMax <= k.chromaHi &&
                crMin >= k.chromaLo && crMax <= k.chromaHi && boxR[0] >= std::max(rLo, r.lowNumerator) &&
                boxR[1] <= rHi && boxR[1] < r.highNumerator && boxG[0] >= std::max(gLo, g.lowNumerator) &&
                boxG[1] <= gHi && boxG[1] < g.highNumerator && boxB[0] >= std::max(bLo, bl.lowNumerator) &&
                boxB[1] <= bHi && boxB[1] < bl.highNumerator;
            if (quiet) {
                yLo = std::min<int32_t>(yLo, bLowY);
                yHi = std::max<int32_t>(yHi, bHighY);
                continue;
            }
            for (int32_t s = b0; s < b1; ++s) {
                const ByCb& u = byCb_[cb[s]];
                const ByCr& v = byCr_[cr[s]];
                // Green's bounds on Y: ceil and floor of (bound - Cb's part - Cr's
                // part) / fromY from the parts' quotients and remainders.
                const int64_t lo = std::max<int64_t>(
                    std::max(u.lo, v.lo), yOrigin_ + u.greenLoQ - v.greenQ + (u.greenLoR > v.greenR ? 1 : 0));
                const int64_t hi = std::min<int64_t>(
                    std::min(u.hi, v.hi), yOrigin_ + u.greenHiQ - v.greenQ - (u.greenHiR < v.greenR ? 1 : 0));
                const int32_t sLow = low[s - c0], sHigh = high[s - c0];
                // Mostly all inside; all outside or some of each want a count.
                if (sLow < lo || sHigh > hi) {
                    const int32_t x0 = std::max(left, s << shift), x1 = std::min(right, (s + 1) << shift);
                    if (sHigh < lo || sLow > hi) {
                        outside += static_cast<int64_t>(x1 - x0) * rows;
                    } else {
                        for (int k = 0; k < rows; ++k)
                            for (int32_t x = x0; x < x1; ++x) outside += (ys[k][x] < lo) | (ys[k][x] > hi);
                    }
                }
                yLo = std::min(yLo, sLow);
                yHi = std::max(yHi, sHigh);
                // Every channel grows with Y (fromY > 0), so its extremes over the
                // sample's pixels are those of its lowest and highest Y.
                const int64_t dLow = sLow - yOrigin_, dHigh = sHigh - yOrigin_;
                rLo = std::min(rLo, r.fromY * dLow + v.red);
                rHi = std::max(rHi, r.fromY * dHigh + v.red);
                gLo = std::min(gLo, g.fromY * dLow + u.green + v.green);
                gHi = std::max(gHi, g.fromY * dHigh + u.green + v.green);
                bLo = std::min(bLo, bl.fromY * dLow + u.blue);
                bHi = std::max(bHi, bl.fromY * dHigh + u.blue);
            }
        }
    }
    const int32_t plain[] = {yLo, yHi, cbLo, cbHi, crLo, crHi};
    foldPlain(part, plain);
    closeRun(part, {rLo, rHi, gLo, gHi, bLo, bHi}, outside, static_cast<int64_t>(right - left) * rows);
}

template <typename Sample>
void SourceGauge::measurePlanar(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const {
    const auto row = [&](int plane, int32_t k) {
        return reinterpret_cast<const Sample*>(f.data[plane] + static_cast<ptrdiff_t>(k) * f.linesize[plane]);
    };
    const Sample* ys[kMostGroupRows];
    for (int32_t k = window.first; k < window.last;) {
        const int32_t c = k >> chromaH_, end = std::min(window.last, (c + 1) << chromaH_);
        for (int32_t j = k; j < end; ++j) ys[j - k] = row(0, j);
        measureGroup(ys, end - k, row(1, c), row(2, c), window.left, window.right, part);
        k = end;
    }
}

void SourceGauge::measureAnyLayout(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
    const int32_t w = f.width, cw = -((-w) >> chromaW_);
    std::vector<uint16_t> y[kMostGroupRows];
    const uint16_t* ys[kMostGroupRows];
    for (int j = 0; j < kMostGroupRows; ++j) {
        y[j].resize(static_cast<size_t>(w));
        ys[j] = y[j].data();
    }
    std::vector<uint16_t> cb(static_cast<size_t>(cw), static_cast<uint16_t>(cOrigin_)), cr(cb);
    const auto read = [&](std::vector<uint16_t>& to, int c, int32_t k, int32_t n) {
        av_read_image_line2(to.data(), const_cast<const uint8_t**>(f.data), f.linesize, d, 0, k, c, n, 0,
                            sizeof(uint16_t));
    };
    const bool grey = d->nb_components < 3;
    for (int32_t k = window.first; k < window.last;) {
        const int32_t c = k >> chromaH_, end = std::min(window.last, (c + 1) << chromaH_);
        for (int32_t j = k; j < end; ++j) read(y[j - k], 0, j, w);
        if (!grey) {
            read(cb, 1, c, cw);
            read(cr, 2, c, cw);
        }
        measureGroup(ys, end - k, cb.data(), cr.data(), window.left, window.right, part);
        k = end;
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

bool measureRgbPlanes(const AVFrame& f, const PlaneWindow& window, SourcePart& part) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
    constexpr int kRgbComponents = 3;
    if (d == nullptr || (d->flags & AV_PIX_FMT_FLAG_RGB) == 0 ||
        (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) != 0 ||
        d->nb_components < kRgbComponents)
        return false;
    for (int c = 0; c < kRgbComponents; ++c)
        if (d->comp[c].depth > kMaxBits) return false;
    if (window.left >= window.right || window.first >= window.last) return true;
    // R, G and B are components 0, 1 and 2 whatever the layout. Whole bytes
    // (planar, or packed as bgr0 is) are read where they lie; the library's
    // reader takes the rest (deep samples, either byte order, bit fields).
    const int32_t w = window.right - window.left;
    std::vector<uint16_t> samples(static_cast<size_t>(w));
    for (int c = 0; c < kRgbComponents; ++c) {
        const AVComponentDescriptor& comp = d->comp[c];
        const bool bytes = comp.depth == kByteBits && comp.shift == 0;
        int32_t lo = INT32_MAX, hi = INT32_MIN;
        for (int32_t k = window.first; k < window.last; ++k) {
            if (bytes) {
                const uint8_t* p = f.data[comp.plane] + static_cast<ptrdiff_t>(k) * f.linesize[comp.plane] +
                                   comp.offset + static_cast<ptrdiff_t>(window.left) * comp.step;
                for (int32_t x = 0; x < w; ++x) {
                    lo = std::min<int32_t>(lo, p[x * comp.step]);
                    hi = std::max<int32_t>(hi, p[x * comp.step]);
                }
                continue;
            }
            av_read_image_line2(samples.data(), const_cast<const uint8_t**>(f.data), f.linesize, d,
                                window.left, k, c, w, 0, sizeof(uint16_t));
            const auto [least, most] = std::minmax_element(samples.begin(), samples.end());
            lo = std::min<int32_t>(lo, *least);
            hi = std::max<int32_t>(hi, *most);
        }
        part.lowest[SourcePart::kR + c] = std::min<int64_t>(part.lowest[SourcePart::kR + c], lo);
        part.highest[SourcePart::kR + c] = std::max<int64_t>(part.highest[SourcePart::kR + c], hi);
    }
    part.pixels += static_cast<int64_t>(w) * (window.last - window.first);
    return true;
}
