// The source gauge's sums, made a block at a time, against the plain
// per-pixel computation: R, G and B of every pixel from its Y and its Cb, Cr
// interpolated between the chroma samples by where they sit (bilinearly,
// edge samples repeated, an interlaced frame's fields apart), in exact
// fractions, rounded half up, never clipped; Y, Cb and Cr as coded, the Cb
// and Cr bounds judged on the samples that cover each pixel. Every 8-bit
// code value; random and extreme samples at 10, 12 and 16 bits, every
// subsampling and siting, tiny and odd sizes, windows and parts of windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "input/source_planes.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace {

__extension__ typedef __int128 Wide;

Wide floorDivide(Wide a, Wide b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// Kr and Kb of each matrix, in ten-thousandths.
struct Matrix {
    YuvMatrix matrix;
    int kr, kb;
};
constexpr Matrix kMatrices[] = {
    {YuvMatrix::Bt601, 2990, 1140}, {YuvMatrix::Bt709, 2126, 722}, {YuvMatrix::Bt2020, 2627, 593}};
constexpr int kW = 10000;

// Chroma in 64ths of a code value: an eighth of a sample along each axis.
constexpr int kParts = 64;

// R', G', B' code values of one pixel, the textbook way over one
// denominator: as broadcast codes them, whatever the range tag says. Cb and
// Cr in kParts parts of a code value.
void codes(const Matrix& m, int bits, int y, int64_t cbParts, int64_t crParts, int64_t out[3]) {
    const Wide scale = Wide{1} << (bits - 8);
    const Wide ySpan = 219 * scale, cSpan = 224 * scale;
    const Wide yn = (y - 16 * scale) * kParts, bn = cbParts - 128 * scale * kParts,
               rn = crParts - 128 * scale * kParts;
    const Wide kg = kW - m.kr - m.kb, den = ySpan * cSpan * kW * kg * kParts;
    const Wide luma = yn * cSpan * kW * kg;
    const Wide red = luma + 2 * (kW - m.kr) * rn * ySpan * kg;
    const Wide blue = luma + 2 * (kW - m.kb) * bn * ySpan * kg;
    const Wide green = kW * luma - m.kr * red - m.kb * blue;  // over den * kg
    const auto code = [&](Wide n, Wide d) {
        return static_cast<int64_t>(16 * scale + floorDivide(2 * 219 * scale * n + d, 2 * d));
    };
    out[0] = code(red, den);
    out[1] = code(green, den * kg);
    out[2] = code(blue, den);
}

// What the gauge should add for the pixels of `w`: code values, not numerators.
struct Expected {
    int64_t lowest[6], highest[6];
    int64_t outside = 0, pixels = 0;
};

bool inside(int64_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

// Along one axis: the two samples either side of pixel p, `step` pixels
// apart, the first sited `site` quarter pixels from pixel 0's, of
// `samples`; the second's share in eighths; edge samples repeated.
struct Between {
    int first, second, eighths;
};
Between between(int p, int step, int site, int samples) {
    const int n = 4 * p - site, d = 4 * step;  // (p - site) / step in 1/d of a sample
    const int below = n >= 0 ? n / d : -((-n + d - 1) / d);
    const int first = std::clamp(below, 0, samples - 1), second = std::clamp(below + 1, 0, samples - 1);
    return {first, second, first == second ? 0 : (n - below * d) * 8 / d};
}

struct Planes {
    int w, h, cw, ch, bits;
    std::vector<int> y, cb, cr;  // chroma at (x >> cw, row >> ch)
    AVChromaLocation site = AVCHROMA_LOC_UNSPECIFIED;
    bool fields = false;
    int chromaW() const { return -((-w) >> cw); }
    int chromaH() const { return -((-h) >> ch); }
    int cbAt(int x, int k) const { return cb[static_cast<size_t>((k >> ch) * chromaW() + (x >> cw))]; }
    int crAt(int x, int k) const { return cr[static_cast<size_t>((k >> ch) * chromaW() + (x >> cw))]; }
    // A sample's site: the start, centre or end of the pixels it covers
    // (left, and untagged as MPEG-2 has it: left across, centred down).
    static int siteOf(int step, char where) {
        return where == 's' ? 0 : where == 'c' ? 2 * (step - 1) : 4 * (step - 1);
    }
    Between across(int x) const {
        const bool centred =
            site == AVCHROMA_LOC_CENTER || site == AVCHROMA_LOC_TOP || site == AVCHROMA_LOC_BOTTOM;
        return between(x, 1 << cw, siteOf(1 << cw, centred ? 'c' : 's'), chromaW());
    }
    Between down(int k) const {
        if (fields && ch == 1) {
            // Each field's lines over its own chroma lines, two field lines
            // apart, the first a quarter (top) or three quarters (bottom) of
            // a field line down; a field without a line of its own takes the last.
            const int field = k & 1, own = (chromaH() - field + 1) / 2;
            if (own == 0) return {chromaH() - 1, chromaH() - 1, 0};
            const Between b = between(k >> 1, 2, field ? 3 : 1, own);
            return {2 * b.first + field, 2 * b.second + field, b.eighths};
        }
        const char where = site == AVCHROMA_LOC_TOPLEFT || site == AVCHROMA_LOC_TOP         ? 's'
                           : site == AVCHROMA_LOC_BOTTOMLEFT || site == AVCHROMA_LOC_BOTTOM ? 'e'
                                                                                            : 'c';
        return between(k, 1 << ch, siteOf(1 << ch, where), chromaH());
    }
    // Pixel (x, k)'s chroma, interpolated, in kParts parts of a code value.
    int64_t interpolated(const std::vector<int>& plane, int x, int k) const {
        const Between a = across(x), b = down(k);
        const auto at = [&](int row, int col) {
            return int64_t{plane[static_cast<size_t>(row * chromaW() + col)]};
        };
        return (8 - b.eighths) *
                   ((8 - a.eighths) * at(b.first, a.first) + a.eighths * at(b.first, a.second)) +
               b.eighths * ((8 - a.eighths) * at(b.second, a.first) + a.eighths * at(b.second, a.second));
    }
};

bool outsideBounds(const int64_t v[6], const SourceBounds& b) {
    return !(inside(v[0], b.lumaLo, b.lumaHi) && inside(v[1], b.chromaLo, b.chromaHi) &&
             inside(v[2], b.chromaLo, b.chromaHi) && inside(v[3], b.rgbLo, b.rgbHi) &&
             inside(v[4], b.rgbLo, b.rgbHi) && inside(v[5], b.rgbLo, b.rgbHi));
}

Expected expect(const Planes& p, const Matrix& m, const SourceBounds& b, const PlaneWindow& win) {
    Expected e;
    std::fill(std::begin(e.lowest), std::end(e.lowest), INT64_MAX);
    std::fill(std::begin(e.highest), std::end(e.highest), INT64_MIN);
    for (int k = win.first; k < win.last; ++k)
        for (int x = win.left; x < win.right; ++x) {
            const int y = p.y[static_cast<size_t>(k * p.w + x)], cb = p.cbAt(x, k), cr = p.crAt(x, k);
            int64_t v[6] = {y, cb, cr};
            codes(m, p.bits, y, p.interpolated(p.cb, x, k), p.interpolated(p.cr, x, k), v + 3);
            for (int i = 0; i < 6; ++i) {
                e.lowest[i] = std::min(e.lowest[i], v[i]);
                e.highest[i] = std::max(e.highest[i], v[i]);
            }
            e.outside += outsideBounds(v, b) ? 1 : 0;
            ++e.pixels;
        }
    return e;
}

// The planes written into a frame of `format`, whatever its layout.
AVFrame* frameOf(const Planes& p, AVPixelFormat format) {
    AVFrame* f = av_frame_alloc();
    f->format = format;
    f->width = p.w;
    f->height = p.h;
    if (av_frame_get_buffer(f, 0) < 0) return f;
    // The writer below ORs samples of up to 8 bits into what is there.
    for (AVBufferRef* b : f->buf)
        if (b != nullptr) std::memset(b->data, 0, b->size);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    std::vector<uint16_t> line(static_cast<size_t>(p.w));
    const int cw = -((-p.w) >> p.cw);
    for (int k = 0; k < p.h; ++k) {
        for (int x = 0; x < p.w; ++x) line[static_cast<size_t>(x)] = static_cast<uint16_t>(p.y[k * p.w + x]);
        av_write_image_line2(line.data(), f->data, f->linesize, d, 0, k, 0, p.w, sizeof(uint16_t));
        if (d->nb_components < 3 || (k & ((1 << p.ch) - 1)) != 0) continue;
        for (int c = 1; c <= 2; ++c) {
            for (int x = 0; x < cw; ++x)
                line[static_cast<size_t>(x)] =
                    static_cast<uint16_t>(c == 1 ? p.cbAt(x << p.cw, k) : p.crAt(x << p.cw, k));
            av_write_image_line2(line.data(), f->data, f->linesize, d, 0, k >> p.ch, c, cw, sizeof(uint16_t));
        }
    }
    return f;
}

// The gauge's code values for what it added, beside the expectation.
void compare(const SourceGauge& g, const SourcePart& part, const Expected& e) {
    const SourceExtremes got = g.extremes(part);
    EXPECT_EQ(got.pixels, e.pixels);
    EXPECT_EQ(got.outside, e.outside);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got.lowest[i], e.lowest[i]);
        EXPECT_EQ(got.highest[i], e.highest[i]);
    }
}

// Bounds at `bits`, from 8-bit limits; -1 leaves a bound unjudged.
SourceBounds boundsAt(int bits, int lumaLo, int lumaHi, int chromaLo, int chromaHi, int rgbLo, int rgbHi) {
    const int s = 1 << (bits - 8);
    SourceBounds b;
    if (lumaLo >= 0) b.lumaLo = lumaLo * s;
    if (lumaHi >= 0) b.lumaHi = lumaHi * s;
    if (chromaLo >= 0) b.chromaLo = chromaLo * s;
    if (chromaHi >= 0) b.chromaHi = chromaHi * s;
    if (rgbLo >= 0) b.rgbLo = rgbLo * s;
    if (rgbHi >= 0) b.rgbHi = rgbHi * s;
    return b;
}

std::vector<SourceBounds> boundSets(int bits) {
    return {
        boundsAt(bits, 16, 235, 16, 240, 16, 235),  // strict
        boundsAt(bits, 5, 246, -1, -1, 5, 246),     // R 103
        boundsAt(bits, -1, -1, -1, -1, -1, -1),     // nothing judged
        boundsAt(bits, -1, 200, 30, -1, 40, -1),    // one side of each
        boundsAt(bits, -1, -1, -1, -1, -1, 100),
    };
}

}  // namespace

// Every Y, Cb, Cr at 8 bits, 4:4:4, narrow range as 8-bit sources come
// (full range and BT.2020 are among the random cases below): a frame per
// Cr, a row per Cb, Y along the row; each row's extremes, and its pixels
// outside counted in three windows split where the reference's inside run
// starts and ends, so that every pixel's verdict is pinned, not just the sum.
TEST(SourceGauge, EveryEightBitCodeValue) {
    constexpr int kValues = 256;
    const SourceBounds bounds[] = {boundsAt(8, 16, 235, 16, 240, 16, 235),
                                   boundsAt(8, 5, 246, -1, -1, 5, 246)};
    for (const Matrix& m : {kMatrices[0], kMatrices[1]}) {
        SCOPED_TRACE(m.kr);
        SourceGauge gauge;
        ASSERT_TRUE(gauge.setUp(AV_PIX_FMT_YUV444P, kValues, kValues, SourceLevels{true, m.matrix, false}));
        Planes p{kValues, kValues, 0, 0, 8, {}, {}, {}};
        p.y.resize(kValues * kValues);
        p.cb.resize(kValues * kValues);
        p.cr.resize(kValues * kValues);
        for (int k = 0; k < kValues; ++k)
            for (int x = 0; x < kValues; ++x) {
                p.y[static_cast<size_t>(k * kValues + x)] = x;
                p.cb[static_cast<size_t>(k * kValues + x)] = k;
            }
        for (int cr = 0; cr < kValues; ++cr) {
            std::fill(p.cr.begin(), p.cr.end(), cr);
            AVFrame* f = frameOf(p, AV_PIX_FMT_YUV444P);
            for (int cb = 0; cb < kValues; ++cb) {
                int64_t v[kValues][6];
                for (int y = 0; y < kValues; ++y) {
                    v[y][0] = y;
                    v[y][1] = cb;
                    v[y][2] = cr;
                    codes(m, 8, y, cb * kParts, cr * kParts, v[y] + 3);
                }
                for (const SourceBounds& b : bounds) {
                    gauge.setBounds(b);
                    SourcePart part;
                    gauge.measure(*f, {cb, cb + 1, 0, kValues}, part);
                    const SourceExtremes got = gauge.extremes(part);
                    bool out[kValues];
                    int64_t outside = 0;
                    bool same = true;
                    for (int y = 0; y < kValues; ++y) {
                        out[y] = outsideBounds(v[y], b);
                        outside += out[y] ? 1 : 0;
                    }
                    // Every channel grows with Y, so the row's extremes are at its ends.
                    for (int i = 0; i < 6; ++i)
                        same = same && got.lowest[i] == v[0][i] && got.highest[i] == v[kValues - 1][i];
                    same = same && got.outside == outside;
                    // The inside run: where the reference's verdict turns.
                    int first = 0, last = kValues;
                    while (first < kValues && out[first]) ++first;
                    while (last > first && out[last - 1]) --last;
                    const auto outsideIn = [&](int from, int to) {
                        SourcePart q;
                        gauge.measure(*f, PlaneWindow{cb, cb + 1, from, to}, q);
                        return q.outside;
                    };
                    same = same && std::count(out + first, out + last, true) == 0;
                    if (first > 0) same = same && outsideIn(0, first) == first;
                    if (last < kValues) same = same && outsideIn(last, kValues) == kValues - last;
                    if (last > first) same = same && outsideIn(first, last) == 0;
                    ASSERT_TRUE(same) << "Cb " << cb << " Cr " << cr;
                }
            }
            av_frame_free(&f);
        }
    }
}

// Random planes with many samples at the extremes and the bounds' edges:
// every layout, subsampling and siting, progressive and interlaced, sizes
// from 1x1 to more than one run of interpolated chroma across, windows with
// odd edges, and a window cut into parts every third row.
TEST(SourceGauge, RandomPlanesEveryLayout) {
    struct Case {
        AVPixelFormat format;
        int w, h;
    };
    const Case kCases[] = {
        {AV_PIX_FMT_YUV420P, 1, 1},       {AV_PIX_FMT_YUV420P, 37, 21},     {AV_PIX_FMT_YUV422P, 33, 7},
        {AV_PIX_FMT_YUV444P, 3, 40},      {AV_PIX_FMT_YUV410P, 19, 11},     {AV_PIX_FMT_YUV411P, 13, 5},
        {AV_PIX_FMT_YUV440P, 9, 9},       {AV_PIX_FMT_NV12, 21, 9},         {AV_PIX_FMT_GRAY8, 5, 3},
        {AV_PIX_FMT_YUV420P10LE, 1, 1},   {AV_PIX_FMT_YUV420P10LE, 35, 17}, {AV_PIX_FMT_YUV422P10LE, 17, 6},
        {AV_PIX_FMT_YUV444P12LE, 15, 13}, {AV_PIX_FMT_P010LE, 11, 7},       {AV_PIX_FMT_YUV420P16LE, 9, 5},
        {AV_PIX_FMT_YUV444P16LE, 7, 3},   {AV_PIX_FMT_GRAY10LE, 6, 5},      {AV_PIX_FMT_YUV422P12BE, 10, 4},
        {AV_PIX_FMT_YUV420P, 1031, 4},    {AV_PIX_FMT_YUV411P, 1029, 2},    {AV_PIX_FMT_YUV420P10LE, 1027, 3},
        {AV_PIX_FMT_YUV420P, 2, 2},       {AV_PIX_FMT_YUV420P, 5, 3},
    };
    const AVChromaLocation kSites[] = {AVCHROMA_LOC_UNSPECIFIED, AVCHROMA_LOC_LEFT, AVCHROMA_LOC_CENTER,
                                       AVCHROMA_LOC_TOPLEFT,     AVCHROMA_LOC_TOP,  AVCHROMA_LOC_BOTTOMLEFT,
                                       AVCHROMA_LOC_BOTTOM};
    std::mt19937 random(2026);
    for (const Case& c : kCases) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(c.format);
        SCOPED_TRACE(std::string(d->name) + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
        const int bits = d->comp[0].depth, top = (1 << bits) - 1, s = 1 << (bits - 8);
        const bool grey = d->nb_components < 3;
        size_t combination = 0;
        for (const Matrix& m : kMatrices)
            for (const bool full : {false, true}) {  // the range tag changes nothing
                // Samples drawn mostly near where verdicts turn.
                const int edges[] = {0,       1,       top,     top - 1, 5 * s,   16 * s,  16 * s - 1,
                                     128 * s, 235 * s, 236 * s, 240 * s, 241 * s, 246 * s, 247 * s};
                const auto sample = [&]() {
                    if (random() % 3 == 0) return edges[random() % std::size(edges)];
                    return static_cast<int>(random() % static_cast<unsigned>(top + 1));
                };
                for (int round = 0; round < 4; ++round, ++combination) {
                    // Every siting, progressive and interlaced, over the rounds.
                    SourceLevels levels{true, m.matrix, full};
                    levels.chromaSite = kSites[combination % std::size(kSites)];
                    levels.fields = combination / std::size(kSites) % 2 == 1;
                    SCOPED_TRACE(std::string("siting ") + std::to_string(levels.chromaSite) +
                                 (levels.fields ? " fields" : " progressive"));
                    SourceGauge gauge;
                    ASSERT_TRUE(gauge.setUp(c.format, c.w, c.h, levels));
                    Planes p{c.w, c.h, d->log2_chroma_w, d->log2_chroma_h, bits, {}, {}, {}};
                    p.site = levels.chromaSite;
                    p.fields = levels.fields;
                    const size_t chroma = static_cast<size_t>((-((-c.w) >> p.cw)) * (-((-c.h) >> p.ch)));
                    for (int i = 0; i < c.w * c.h; ++i) p.y.push_back(sample());
                    for (size_t i = 0; i < chroma; ++i) {
                        p.cb.push_back(grey ? 128 * s : sample());
                        p.cr.push_back(grey ? 128 * s : sample());
                    }
                    AVFrame* f = frameOf(p, c.format);
                    for (const SourceBounds& b : boundSets(bits)) {
                        gauge.setBounds(b);
                        const PlaneWindow whole{0, c.h, 0, c.w};
                        const PlaneWindow inner{c.h / 3, c.h - c.h / 4, c.w / 3, c.w - c.w / 5};
                        for (const PlaneWindow& w : {whole, inner}) {
                            if (w.first >= w.last || w.left >= w.right) continue;
                            SourcePart part;
                            gauge.measure(*f, w, part);
                            compare(gauge, part, expect(p, m, b, w));
                            // The same window as parts cut at every third row.
                            SourcePart sum;
                            for (int k = w.first; k < w.last; k += 3) {
                                SourcePart piece;
                                gauge.measure(*f, {k, std::min(w.last, k + 3), w.left, w.right}, piece);
                                sum.add(piece);
                            }
                            compare(gauge, sum, expect(p, m, b, w));
                        }
                    }
                    av_frame_free(&f);
                }
            }
    }
}

// Smooth planes inside every bound, where whole blocks of chroma samples are
// judged at once, with a stray pixel or chroma sample planted anywhere: the
// stray must count and set the extremes wherever it falls.
TEST(SourceGauge, StraysInSmoothPlanes) {
    const AVPixelFormat kFormats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P12LE};
    constexpr int kWidth = 101, kHeight = 6;
    std::mt19937 random(7);
    for (const AVPixelFormat format : kFormats) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
        const int bits = d->comp[0].depth, s = 1 << (bits - 8);
        SourceGauge gauge;
        ASSERT_TRUE(gauge.setUp(format, kWidth, kHeight, SourceLevels{true, YuvMatrix::Bt709, false}));
        for (int round = 0; round < 40; ++round) {
            SCOPED_TRACE(std::string(d->name) + " round " + std::to_string(round));
            Planes p{kWidth, kHeight, d->log2_chroma_w, d->log2_chroma_h, bits, {}, {}, {}};
            const size_t chroma = static_cast<size_t>((-((-kWidth) >> p.cw)) * (-((-kHeight) >> p.ch)));
            const auto near = [&](int centre) { return (centre - 3 + static_cast<int>(random() % 7)) * s; };
            for (int i = 0; i < kWidth * kHeight; ++i) p.y.push_back(near(100 + i % kWidth / 8));
            for (size_t i = 0; i < chroma; ++i) {
                p.cb.push_back(near(120));
                p.cr.push_back(near(134));
            }
            // A stray past the bounds, just inside them, or one that only
            // moves an extreme; in Y or in a chroma sample.
            const int strays[] = {250 * s, 236 * s, 230 * s, 20 * s, 10 * s};
            const int value = strays[random() % std::size(strays)];
            std::vector<int>& plane = round % 3 == 0 ? p.y : round % 3 == 1 ? p.cb : p.cr;
            plane[random() % plane.size()] = value;
            AVFrame* f = frameOf(p, format);
            for (const SourceBounds& b : boundSets(bits)) {
                gauge.setBounds(b);
                const PlaneWindow whole{0, kHeight, 0, kWidth};
                SourcePart part;
                gauge.measure(*f, whole, part);
                compare(gauge, part, expect(p, kMatrices[1], b, whole));
            }
            av_frame_free(&f);
        }
    }
}

// Samples beyond the depth's code values (a 10-bit plane's words hold up to
// 16 bits) are measured as they are.
TEST(SourceGauge, SamplesBeyondTheDepth) {
    Planes p{6, 4, 1, 1, 10, {}, {}, {}};
    for (int i = 0; i < 24; ++i) p.y.push_back(i * 2000 % 65536);
    p.cb = {0, 1023, 1024, 65535, 512, 700};
    p.cr = {65535, 0, 2000, 512, 1023, 300};
    AVFrame* f = frameOf(p, AV_PIX_FMT_YUV420P10LE);
    // av_write_image_line2 keeps only the depth's bits: put the words in whole.
    for (int k = 0; k < 4; ++k)
        for (int x = 0; x < 6; ++x)
            reinterpret_cast<uint16_t*>(f->data[0] + k * f->linesize[0])[x] =
                static_cast<uint16_t>(p.y[k * 6 + x]);
    for (int k = 0; k < 2; ++k)
        for (int x = 0; x < 3; ++x) {
            reinterpret_cast<uint16_t*>(f->data[1] + k * f->linesize[1])[x] =
                static_cast<uint16_t>(p.cb[k * 3 + x]);
            reinterpret_cast<uint16_t*>(f->data[2] + k * f->linesize[2])[x] =
                static_cast<uint16_t>(p.cr[k * 3 + x]);
        }
    for (const Matrix& m : kMatrices) {
        SourceGauge gauge;
        ASSERT_TRUE(gauge.setUp(AV_PIX_FMT_YUV420P10LE, 6, 4, SourceLevels{true, m.matrix, false}));
        for (const SourceBounds& b : boundSets(10)) {
            gauge.setBounds(b);
            SourcePart part;
            gauge.measure(*f, {0, 4, 0, 6}, part);
            compare(gauge, part, expect(p, m, b, {0, 4, 0, 6}));
        }
    }
    av_frame_free(&f);
}
