#include "input/source_planes.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "input/colour_standards.h"
#include "input/fine_chroma.h"
#include "input/samples_in_place.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kByteBits = 8;
constexpr int kMaxBits = 16;

// A sum of weight * (sample - centre) stays within this, so that a
// numerator never overflows; the margin leaves room for the rounding's 2n + den.
constexpr int64_t kNumeratorLimit = int64_t{1} << 61;

// FFmpeg subsamples chroma rows by at most four.
constexpr int kMostChromaRowsLog2 = 2;

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

bool SourceGauge::setUp(int pixelFormat, int32_t width, int32_t height, const SourceLevels& levels) {
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
    width_ = width;
    height_ = height;
    chromaW_ = d->log2_chroma_w;
    chromaH_ = d->log2_chroma_h;
    if (chromaH_ > kMostChromaRowsLog2) return false;
    // Subsampled chroma at every pixel by the render's rule, exactly.
    const bool subsampled = !grey && (chromaW_ > 0 || chromaH_ > 0);
    chromaParts_ = subsampled ? kExactParts : 1;
    columns_.clear();
    rows_.clear();
    pattern_ = TapPattern{};
    if (subsampled) {
        columns_ = columnTaps(width, chromaW_, levels.chromaSite);
        pattern_ = tapPattern(columns_, chromaW_);
        rows_ = rowTaps(height, chromaH_, levels.chromaSite, levels.fields);
    }
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
    // kLumaWeightScale * Kg, in integers.
    const int64_t scale = int64_t{1} << (n - kByteBits);
    const int64_t top = (int64_t{1} << n) - 1;
    const int64_t ySpan = kLumaCodeSpan * scale;
    const int64_t cSpan = kChromaCodeSpan * scale;
    yOrigin_ = static_cast<int32_t>(kLumaBlackCode * scale);
    cOrigin_ = static_cast<int32_t>(kChromaZeroCode * scale);
    outBlack_ = yOrigin_;
    const int64_t outSpan = ySpan;
    // Exact, in 1/kLumaWeightScale.
    const LumaWeights& weights = lumaWeightsOf(levels.matrix);
    const int64_t red = weights.red, blue = weights.blue, kg = weights.green();
    const int64_t den = ySpan * cSpan * kLumaWeightScale * kg;
    const int64_t fromY = outSpan * cSpan * kLumaWeightScale * kg;
    const int64_t redDiff = 2 * (kLumaWeightScale - red), blueDiff = 2 * (kLumaWeightScale - blue);
    const Channel whole[3] = {
        {fromY, 0, outSpan * ySpan * redDiff * kg},
        {fromY, -outSpan * ySpan * blue * blueDiff, -outSpan * ySpan * red * redDiff},
        {fromY, outSpan * ySpan * blueDiff * kg, 0},
    };
    // Each channel over its own smallest denominator. Chroma in
    // chromaParts_ parts of a code value takes Y's weight and the
    // denominator up as many times, once reduced (before, they would overflow).
    for (int c = 0; c < 3; ++c) {
        Channel ch = whole[c];
        int64_t chDen = den;
        for (const int64_t parts : {int64_t{1}, chromaParts_}) {
            ch.fromY *= parts;
            chDen *= parts;
            const int64_t g = std::gcd(std::gcd(chDen, ch.fromY), std::gcd(ch.fromCb, ch.fromCr));
            ch.fromY /= g;
            ch.fromCb /= g;
            ch.fromCr /= g;
            chDen /= g;
        }
        const int64_t most =
            (std::abs(ch.fromY) + (std::abs(ch.fromCb) + std::abs(ch.fromCr)) * chromaParts_) * (top + 1);
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
    if (chromaParts_ != 1) {  // every pixel's chroma its own: no table by code value
        byCb_.clear();
        byCr_.clear();
        return;
    }
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

// Cb's and Cr's extremes over samples first..end - 1, into plain[2..5]; a
// pass of their own, which the compiler turns into vector code.
template <typename Sample>
void chromaExtremes(const Sample* cb, const Sample* cr, int32_t first, int32_t end, int32_t (&plain)[6]) {
    int32_t cbLo = INT32_MAX, cbHi = INT32_MIN, crLo = INT32_MAX, crHi = INT32_MIN;
    for (int32_t x = first; x < end; ++x) {
        cbLo = std::min<int32_t>(cbLo, cb[x]);
        cbHi = std::max<int32_t>(cbHi, cb[x]);
        crLo = std::min<int32_t>(crLo, cr[x]);
        crHi = std::max<int32_t>(crHi, cr[x]);
    }
    plain[2] = cbLo;
    plain[3] = cbHi;
    plain[4] = crLo;
    plain[5] = crHi;
}

// Samples (4:4:4) or interpolated pixels judged together before any is judged alone.
constexpr int32_t kBlockSamples = 16;
constexpr int32_t kBlockPixels = 32;

// The lowest and highest of each block of kBlock values of v[0 .. n - 1],
// the last block cut short: whole blocks a fixed count at a time, values
// copied before they are compared, so that the compiler makes vector code of it.
template <int32_t kBlock, typename T>
void blockExtremes(const T* __restrict v, int32_t n, T* __restrict low, T* __restrict high) {
    const int32_t whole = n / kBlock;
    for (int32_t b = 0; b < whole; ++b) {
        T lo = v[b * kBlock], hi = lo;
        for (int32_t j = 0; j < kBlock; ++j) {
            const T x = v[b * kBlock + j];
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
        low[b] = lo;
        high[b] = hi;
    }
    if (whole * kBlock == n) return;
    T lo = v[whole * kBlock], hi = lo;
    for (int32_t i = whole * kBlock; i < n; ++i) {
        const T x = v[i];
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    low[whole] = lo;
    high[whole] = hi;
}

}  // namespace

SourceGauge::RgbRun SourceGauge::RgbRun::from(const SourcePart& part) {
    RgbRun run;
    for (int c = 0; c < 3; ++c) {
        run.rgb[2 * c] = part.lowest[SourcePart::kR + c];
        run.rgb[2 * c + 1] = part.highest[SourcePart::kR + c];
    }
    return run;
}

void SourceGauge::RgbRun::close(SourcePart& part, int64_t pixels) const {
    for (int c = 0; c < 3; ++c) {
        part.lowest[SourcePart::kR + c] = rgb[2 * c];
        part.highest[SourcePart::kR + c] = rgb[2 * c + 1];
    }
    part.outside += outside;
    part.pixels += pixels;
}

bool SourceGauge::quietBox(int32_t yLow, int32_t yHigh, const int64_t (&chromaLow)[3],
                           const int64_t (&chromaHigh)[3], const RgbRun& run) const {
    if (yLow < bounds_.lumaLo || yHigh > bounds_.lumaHi) return false;
    const int64_t dLow = yLow - yOrigin_, dHigh = yHigh - yOrigin_;
    bool quiet = true;
    for (int c = 0; c < 3; ++c) {
        const Channel& ch = rgb_[c];
        const int64_t low = ch.fromY * dLow + chromaLow[c], high = ch.fromY * dHigh + chromaHigh[c];
        quiet = quiet && low >= std::max(run.rgb[2 * c], ch.lowNumerator) && high <= run.rgb[2 * c + 1] &&
                high < ch.highNumerator;
    }
    return quiet;
}

template <typename Sample, typename Chroma>
void SourceGauge::measurePixels(const Sample* y, const Sample* cb, const Sample* cr, const Chroma* cbAt,
                                const Chroma* crAt, int32_t left, int32_t right, RgbRun& run) const {
    const int chromaShift = chromaW_;
    const SourceBounds& b = bounds_;
    const int64_t centre = cOrigin_ * chromaParts_;
    // R, G and B of each pixel; the tests without branches, as data decides them.
    const Channel &r = rgb_[0], &g = rgb_[1], &bl = rgb_[2];
    int64_t rLo = run.rgb[0], rHi = run.rgb[1], gLo = run.rgb[2], gHi = run.rgb[3], bLo = run.rgb[4],
            bHi = run.rgb[5];
    int64_t outside = 0;
    for (int32_t x = left; x < right; ++x) {
        const int32_t Y = y[x], Cb = cb[x >> chromaShift], Cr = cr[x >> chromaShift];
        const int64_t dy = Y - yOrigin_, dcb = cbAt[x - left] - centre, dcr = crAt[x - left] - centre;
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
    run.rgb[0] = rLo;
    run.rgb[1] = rHi;
    run.rgb[2] = gLo;
    run.rgb[3] = gHi;
    run.rgb[4] = bLo;
    run.rgb[5] = bHi;
    run.outside += outside;
}

template <typename Sample>
void SourceGauge::measureCoSited(const Sample* y, const Sample* cb, const Sample* cr, int32_t left,
                                 int32_t right, SourcePart& part) const {
    int32_t plain[6];
    chromaExtremes(cb, cr, left, right, plain);
    RgbRun run = RgbRun::from(part);
    if (static_cast<size_t>(std::max(plain[3], plain[5])) >= byCb_.size()) {
        // Chroma beyond the depth's code values, which the tables do not
        // cover: pixel by pixel, Y's extremes in a pass of their own.
        int32_t lumaLo = INT32_MAX, lumaHi = INT32_MIN;
        for (int32_t x = left; x < right; ++x) {
            lumaLo = std::min<int32_t>(lumaLo, y[x]);
            lumaHi = std::max<int32_t>(lumaHi, y[x]);
        }
        plain[0] = lumaLo;
        plain[1] = lumaHi;
        foldPlain(part, plain);
        measurePixels(y, cb, cr, cb + left, cr + left, left, right, run);
        run.close(part, right - left);
        return;
    }
    const Channel &r = rgb_[0], &g = rgb_[1], &bl = rgb_[2];
    const SourceBounds& k = bounds_;
    int32_t yLo = INT32_MAX, yHi = INT32_MIN;
    for (int32_t b0 = left; b0 < right; b0 += kBlockSamples) {
        const int32_t b1 = std::min(right, b0 + kBlockSamples);
        Sample yMin = y[b0], yMax = y[b0], cbMin = cb[b0], cbMax = cb[b0], crMin = cr[b0], crMax = cr[b0];
        for (int32_t s = b0 + 1; s < b1; ++s) {
            yMin = std::min(yMin, y[s]);
            yMax = std::max(yMax, y[s]);
            cbMin = std::min(cbMin, cb[s]);
            cbMax = std::max(cbMax, cb[s]);
            crMin = std::min(crMin, cr[s]);
            crMax = std::max(crMax, cr[s]);
        }
        const ByCb &uMin = byCb_[cbMin], &uMax = byCb_[cbMax];
        const ByCr &vMin = byCr_[crMin], &vMax = byCr_[crMax];
        const int64_t chromaLow[3] = {std::min(vMin.red, vMax.red),
                                      std::min(uMin.green, uMax.green) + std::min(vMin.green, vMax.green),
                                      std::min(uMin.blue, uMax.blue)};
        const int64_t chromaHigh[3] = {std::max(vMin.red, vMax.red),
                                       std::max(uMin.green, uMax.green) + std::max(vMin.green, vMax.green),
                                       std::max(uMin.blue, uMax.blue)};
        if (cbMin >= k.chromaLo && cbMax <= k.chromaHi && crMin >= k.chromaLo && crMax <= k.chromaHi &&
            quietBox(yMin, yMax, chromaLow, chromaHigh, run)) {
            yLo = std::min<int32_t>(yLo, yMin);
            yHi = std::max<int32_t>(yHi, yMax);
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
            const int32_t Y = y[s];
            run.outside += (Y < lo) | (Y > hi);
            yLo = std::min(yLo, Y);
            yHi = std::max(yHi, Y);
            const int64_t dY = Y - yOrigin_;
            run.rgb[0] = std::min(run.rgb[0], r.fromY * dY + v.red);
            run.rgb[1] = std::max(run.rgb[1], r.fromY * dY + v.red);
            run.rgb[2] = std::min(run.rgb[2], g.fromY * dY + u.green + v.green);
            run.rgb[3] = std::max(run.rgb[3], g.fromY * dY + u.green + v.green);
            run.rgb[4] = std::min(run.rgb[4], bl.fromY * dY + u.blue);
            run.rgb[5] = std::max(run.rgb[5], bl.fromY * dY + u.blue);
        }
    }
    plain[0] = yLo;
    plain[1] = yHi;
    foldPlain(part, plain);
    run.close(part, right - left);
}

template <typename Sample>
void SourceGauge::measureInterpolated(const InterpolatedRow<Sample>& row, int32_t left, int32_t right,
                                      SourcePart& part) const {
    using Fine = ExactChroma<Sample>;
    const int shift = chromaW_;
    int32_t plain[6];
    chromaExtremes(row.cb, row.cr, left >> shift, ((right - 1) >> shift) + 1, plain);
    // The Cb and Cr bounds are judged on the coded samples: a block may be
    // judged on its box alone where those that cover it all keep them (in
    // most rows, every one).
    const SourceBounds& k = bounds_;
    const auto keeps = [&](int32_t c) { return c >= k.chromaLo && c <= k.chromaHi; };
    const bool rowKeeps = keeps(plain[2]) && keeps(plain[3]) && keeps(plain[4]) && keeps(plain[5]);
    const auto coveringKeep = [&](int32_t from, int32_t to) {  // pixels from..to - 1
        if (rowKeeps) return true;
        for (int32_t c = from >> shift; c <= (to - 1) >> shift; ++c)
            if (!keeps(row.cb[c]) || !keeps(row.cr[c])) return false;
        return true;
    };
    const int64_t centre = cOrigin_ * chromaParts_;
    RgbRun run = RgbRun::from(part);
    int32_t yLo = INT32_MAX, yHi = INT32_MIN;
    constexpr int32_t kRunBlocks = kFineRun / kBlockPixels;
    alignas(64) Fine cbAt[kFineRun], crAt[kFineRun];
    Sample yLow[kRunBlocks], yHigh[kRunBlocks];
    Fine cbLow[kRunBlocks], cbHigh[kRunBlocks], crLow[kRunBlocks], crHigh[kRunBlocks];
    for (int32_t x0 = left; x0 < right; x0 += kFineRun) {
        const int32_t n = std::min(kFineRun, right - x0);
        exactChroma(row.cbRows[0], row.cbRows[1], row.weight, columns_.data(), pattern_, x0, n, cbAt);
        exactChroma(row.crRows[0], row.crRows[1], row.weight, columns_.data(), pattern_, x0, n, crAt);
        blockExtremes<kBlockPixels>(row.y + x0, n, yLow, yHigh);
        blockExtremes<kBlockPixels>(cbAt, n, cbLow, cbHigh);
        blockExtremes<kBlockPixels>(crAt, n, crLow, crHigh);
        for (int32_t block = 0; block * kBlockPixels < n; ++block) {
            yLo = std::min<int32_t>(yLo, yLow[block]);
            yHi = std::max<int32_t>(yHi, yHigh[block]);
            // Each channel's chroma part is linear in Cb and Cr, so its
            // extremes over the box lie at the box's ends.
            int64_t chromaLow[3], chromaHigh[3];
            for (int c = 0; c < 3; ++c) {
                const Channel& ch = rgb_[c];
                const int64_t a = ch.fromCb * (cbLow[block] - centre),
                              b = ch.fromCb * (cbHigh[block] - centre);
                const int64_t p = ch.fromCr * (crLow[block] - centre),
                              q = ch.fromCr * (crHigh[block] - centre);
                chromaLow[c] = std::min(a, b) + std::min(p, q);
                chromaHigh[c] = std::max(a, b) + std::max(p, q);
            }
            const int32_t b0 = block * kBlockPixels, b1 = std::min(n, b0 + kBlockPixels);
            if (quietBox(yLow[block], yHigh[block], chromaLow, chromaHigh, run) &&
                coveringKeep(x0 + b0, x0 + b1))
                continue;
            measurePixels(row.y, row.cb, row.cr, cbAt + b0, crAt + b0, x0 + b0, x0 + b1, run);
        }
    }
    plain[0] = yLo;
    plain[1] = yHi;
    foldPlain(part, plain);
    run.close(part, right - left);
}

template <typename Sample>
void SourceGauge::measurePlanar(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const {
    const auto row = [&](int plane, int32_t k) {
        return reinterpret_cast<const Sample*>(f.data[plane] + static_cast<ptrdiff_t>(k) * f.linesize[plane]);
    };
    for (int32_t k = window.first; k < window.last; ++k) {
        const int32_t c = k >> chromaH_;
        if (chromaParts_ == 1) {
            measureCoSited(row(0, k), row(1, c), row(2, c), window.left, window.right, part);
            continue;
        }
        const ChromaTap& tap = rows_[static_cast<size_t>(k)];
        const InterpolatedRow<Sample> r{row(0, k),
                                        row(1, c),
                                        row(2, c),
                                        {row(1, tap.first), row(1, tap.second)},
                                        {row(2, tap.first), row(2, tap.second)},
                                        tap.weight};
        measureInterpolated(r, window.left, window.right, part);
    }
}

void SourceGauge::measureAnyLayout(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const {
    if (window.first >= window.last) return;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
    const int32_t w = f.width, cw = -((-w) >> chromaW_);
    const auto read = [&](uint16_t* to, int c, int32_t k, int32_t n) {
        av_read_image_line2(to, const_cast<const uint8_t**>(f.data), f.linesize, d, 0, k, c, n, 0,
                            sizeof(uint16_t));
    };
    std::vector<uint16_t> y(static_cast<size_t>(w));
    if (chromaParts_ == 1) {
        std::vector<uint16_t> cb(static_cast<size_t>(cw), static_cast<uint16_t>(cOrigin_)), cr(cb);
        const bool grey = d->nb_components < 3;
        for (int32_t k = window.first; k < window.last; ++k) {
            read(y.data(), 0, k, w);
            if (!grey) {
                read(cb.data(), 1, k >> chromaH_, cw);
                read(cr.data(), 2, k >> chromaH_, cw);
            }
            measureCoSited(y.data(), cb.data(), cr.data(), window.left, window.right, part);
        }
        return;
    }
    // The chroma rows that the window's rows cover or read, each read once.
    int32_t lo = INT32_MAX, hi = INT32_MIN;
    for (int32_t k = window.first; k < window.last; ++k) {
        const ChromaTap& tap = rows_[static_cast<size_t>(k)];
        lo = std::min({lo, k >> chromaH_, tap.first});
        hi = std::max({hi, k >> chromaH_, tap.second});
    }
    const size_t lines = static_cast<size_t>(hi - lo + 1);
    std::vector<uint16_t> cb(lines * static_cast<size_t>(cw)), cr(cb.size());
    const auto line = [&](std::vector<uint16_t>& plane, int32_t j) {
        return plane.data() + static_cast<size_t>(j - lo) * static_cast<size_t>(cw);
    };
    for (int32_t j = lo; j <= hi; ++j) {
        read(line(cb, j), 1, j, cw);
        read(line(cr, j), 2, j, cw);
    }
    for (int32_t k = window.first; k < window.last; ++k) {
        read(y.data(), 0, k, w);
        const int32_t c = k >> chromaH_;
        const ChromaTap& tap = rows_[static_cast<size_t>(k)];
        const InterpolatedRow<uint16_t> r{y.data(),
                                          line(cb, c),
                                          line(cr, c),
                                          {line(cb, tap.first), line(cb, tap.second)},
                                          {line(cr, tap.first), line(cr, tap.second)},
                                          tap.weight};
        measureInterpolated(r, window.left, window.right, part);
    }
}

void SourceGauge::measure(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const {
    if (f.format != pixelFormat_ || f.width != width_ || f.height != height_ || window.left >= window.right)
        return;
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
