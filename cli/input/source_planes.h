// The source's own Y'CbCr code values at its own depth, and the R'G'B'
// they stand for in the same code values (black at 16, white at 235 at 8
// bits, whatever the range tag), before any conversion the displays need:
// what a delivery check judges. Integer work only; R, G and B are never clipped.
#pragma once

#include <cstdint>
#include <vector>

#include "input/chroma_siting.h"
#include "input/source_levels.h"
#include "input/source_luma.h"

extern "C" {
#include <libavutil/frame.h>
}

// The depths measured: whole bytes up to 16-bit words.
inline constexpr int kSourceByteBits = 8, kSourceMostBits = 16;

// Bounds a pixel must keep, in the source's code values; a bound that is
// not judged spans every value.
struct SourceBounds {
    int32_t lumaLo = 0, lumaHi = INT32_MAX;
    int32_t chromaLo = 0, chromaHi = INT32_MAX;
    int32_t rgbLo = INT32_MIN, rgbHi = INT32_MAX;
};

// Extremes and the pixels outside the bounds, for part of a frame; parts add up.
struct SourcePart {
    enum Measure : int { kY = 0, kCb, kCr, kR, kG, kB, kMeasureCount };
    // Y, Cb and Cr as coded; R, G and B as numerators over the gauge's
    // denominator until SourceGauge::extremes() turns them into code values.
    int64_t lowest[kMeasureCount], highest[kMeasureCount];
    int64_t outside = 0, pixels = 0;

    SourcePart() { clear(); }
    void clear();
    void add(const SourcePart& other);
};

// Per frame: each measure's lowest and highest code value (-1 for both
// without pixels), and the pixels outside the bounds.
struct SourceExtremes {
    int32_t lowest[SourcePart::kMeasureCount], highest[SourcePart::kMeasureCount];
    int64_t outside = 0, pixels = 0;
};

// A source coded as RGB: the extremes of its own R, G and B code values at
// its own depth in `window`, into `part`'s R, G and B measures as code
// values (no numerators), Y, Cb and Cr left without. False, adding nothing,
// for a format that is not RGB of whole samples (Y'CbCr, palette, bitstream).
bool measureRgbPlanes(const AVFrame& f, const PlaneWindow& window, SourcePart& part);

// Measures decoded Y'CbCr frames of one format, size, matrix and chroma rule.
class SourceGauge {
public:
    // False for a format without Y'CbCr planes (RGB, palette, grey). Of
    // `levels`, the matrix, where the chroma sits and whether the frames
    // are two fields count; `width` x `height`: the frames' size.
    bool setUp(int pixelFormat, int32_t width, int32_t height, const SourceLevels& levels);
    // The bounds, in code values at bits(); none until set.
    void setBounds(const SourceBounds& bounds);
    // Adds the pixels of `f` in `window` to `part` (nothing for a frame of
    // another format or size). Y, Cb and Cr are measured as coded, over the
    // chroma samples that cover the window; R, G and B from each pixel's Y
    // and its chroma interpolated by the render's rule (chroma_siting.h),
    // exactly, from samples beyond the window's edges too; the Cb and Cr
    // bounds judge a pixel by the samples that cover it.
    void measure(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const;
    SourceExtremes extremes(const SourcePart& whole) const;
    int bits() const { return bits_; }

private:
    // A run's R, G and B extremes (lowest, highest of each) as numerators,
    // and its pixels outside the bounds.
    struct RgbRun {
        int64_t rgb[6];
        int64_t outside = 0;
        static RgbRun from(const SourcePart& part);  // starting from the part's own extremes
        void close(SourcePart& part, int64_t pixels) const;
    };
    // One luma row of a subsampled picture: the chroma samples that cover
    // it as coded, the two chroma rows its taps read and the second's share.
    template <typename Sample>
    struct InterpolatedRow {
        const Sample *y, *cb, *cr;
        const Sample *cbRows[2], *crRows[2];
        int32_t weight;
    };

    template <typename Sample>
    void measurePlanar(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const;
    void measureAnyLayout(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const;
    // Columns left..right - 1 of one row of a 4:4:4 picture, a block of
    // samples at a time: each sample's Cb and Cr fix the one interval of Y
    // inside every bound, and R, G, B's extremes follow from Y's.
    template <typename Sample>
    void measureCoSited(const Sample* y, const Sample* cb, const Sample* cr, int32_t left, int32_t right,
                        SourcePart& part) const;
    // Columns left..right - 1 of one row of a subsampled picture, a run of
    // interpolated chroma at a time.
    template <typename Sample>
    void measureInterpolated(const InterpolatedRow<Sample>& row, int32_t left, int32_t right,
                             SourcePart& part) const;
    // Pixels left..right - 1 one by one: R, G and B from their Y and `cbAt`,
    // `crAt` (pixel left's first) in chromaParts_ parts of a code value;
    // the Cb and Cr bounds on `cb`, `cr`, the samples that cover them.
    template <typename Sample, typename Chroma>
    void measurePixels(const Sample* y, const Sample* cb, const Sample* cr, const Chroma* cbAt,
                       const Chroma* crAt, int32_t left, int32_t right, RgbRun& run) const;
    // Whether pixels whose Y lies in yLow..yHigh and whose channels' chroma
    // parts of the numerator lie in chromaLow[c]..chromaHigh[c] all keep
    // the luma and R, G, B bounds and change no R, G, B extreme of `run`:
    // every channel is monotonic in Y and its chroma part, so the corners
    // of the box bound every pixel in it.
    bool quietBox(int32_t yLow, int32_t yHigh, const int64_t (&chromaLow)[3], const int64_t (&chromaHigh)[3],
                  const RgbRun& run) const;
    void buildTables();

    // R, G, B: outBlack + round(numerator / den), numerator = the sum of
    // weight * (sample - centre), chroma in chromaParts_ parts of a code value.
    struct Channel {
        int64_t fromY = 0, fromCb = 0, fromCr = 0;
        int64_t lowNumerator = 0, highNumerator = 0;  // inside: lowNumerator <= n < highNumerator
    };
    Channel rgb_[3];
    // 4:4:4 only, per chroma code value: Y's interval inside the bounds for
    // the channel that value alone decides (R by Cr, B by Cb) with the luma
    // and chroma bounds, empty when the chroma sample breaks its own; that
    // channel's and green's share of the numerator; and green's bounds
    // split as quotient and remainder by green's fromY, so that Cb's and
    // Cr's parts meet in one compare.
    struct ByCb {
        int32_t lo, hi;
        int64_t blue, green;
        int64_t greenLoQ, greenLoR, greenHiQ, greenHiR;
    };
    struct ByCr {
        int32_t lo, hi;
        int64_t red, green;
        int64_t greenQ, greenR;
    };
    std::vector<ByCb> byCb_;
    std::vector<ByCr> byCr_;
    int64_t dens_[3] = {1, 1, 1};
    int32_t yOrigin_ = 0, cOrigin_ = 0, outBlack_ = 0;
    SourceBounds bounds_;
    int pixelFormat_ = -1, bits_ = 8;
    int32_t width_ = 0, height_ = 0;
    bool planar_ = false;            // Y, Cb and Cr each a plane of whole samples the machine reads directly
    int chromaW_ = 0, chromaH_ = 0;  // log2 of the subsampling
    // Subsampled: every pixel's chroma interpolated (exactChroma), in kExactParts parts; else 1.
    int64_t chromaParts_ = 1;
    std::vector<ChromaTap> columns_, rows_;  // subsampled: each pixel column's and row's chroma
    TapPattern pattern_;
};
