// The source gauge's passes over a frame's rows: whole blocks judged on
// their extremes where they can be, pixels one by one where not.
#include "input/source_planes.h"

#include <algorithm>
#include <vector>

#include "input/fine_chroma.h"

extern "C" {
#include <libavutil/pixdesc.h>
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
    else if (bits_ == kSourceByteBits)
        measurePlanar<uint8_t>(f, window, part);
    else
        measurePlanar<uint16_t>(f, window, part);
}
