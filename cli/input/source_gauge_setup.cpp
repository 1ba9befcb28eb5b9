// The source gauge's set-up: the integer weights that take a pixel's Y'CbCr
// to its R'G'B' numerators, the bounds as numerators, the tables by chroma
// code value, and the numerators back to code values.
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

// A sum of weight * (sample - centre) stays within this, so that a
// numerator never overflows; the margin leaves room for the rounding's 2n + den.
constexpr int64_t kNumeratorLimit = int64_t{1} << 61;

// FFmpeg subsamples chroma rows by at most four.
constexpr int kMostChromaRowsLog2 = 2;

// Just beyond every sample a plane can hold: Y's interval, clipped to
// these, judges every sample as the unclipped one would.
constexpr int64_t kBelowEveryY = -1, kAboveEveryY = int64_t{1} << kSourceMostBits;
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
    if (n < kSourceByteBits || n > kSourceMostBits) return false;
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
    const int64_t scale = int64_t{1} << (n - kSourceByteBits);
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
