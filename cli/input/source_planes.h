// The source's own Y'CbCr code values at its own depth, and the R'G'B'
// they stand for in the same code values (black at 16, white at 235 at 8
// bits, whatever the range tag), before any conversion the displays need:
// what a delivery check judges. Integer work only; R, G and B are never clipped.
#pragma once

#include <cstdint>
#include <vector>

#include "input/levels.h"
#include "input/source_luma.h"

extern "C" {
#include <libavutil/frame.h>
}

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

// Measures decoded Y'CbCr frames of one format and matrix.
class SourceGauge {
public:
    // False for a format without Y'CbCr planes (RGB, palette, grey). Of
    // `levels`, only the matrix counts.
    bool setUp(int pixelFormat, const SourceLevels& levels);
    // The bounds, in code values at bits(); none until set.
    void setBounds(const SourceBounds& bounds);
    // Adds the pixels of `f` in `window` to `part`; each takes the chroma
    // sample that covers it, wherever the window's edges fall.
    void measure(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const;
    SourceExtremes extremes(const SourcePart& whole) const;
    int bits() const { return bits_; }

private:
    template <typename Sample>
    void measurePlanar(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const;
    void measureAnyLayout(const AVFrame& f, const PlaneWindow& window, SourcePart& part) const;
    // Columns left..right - 1 of the luma rows `ys` (those of the window
    // that share one row of chroma), a chroma sample at a time: its Cb and
    // Cr fix the one interval of Y inside every bound, and R, G, B's
    // extremes over its pixels follow from their Y's extremes.
    template <typename Sample>
    void measureGroup(const Sample* const* ys, int rows, const Sample* cb, const Sample* cr, int32_t left,
                      int32_t right, SourcePart& part) const;
    // The same for one row, pixel by pixel: for chroma beyond the depth's
    // code values, which the tables do not cover.
    template <typename Sample>
    void measureEach(const Sample* y, const Sample* cb, const Sample* cr, int32_t left, int32_t right,
                     SourcePart& part) const;
    void buildTables();

    // R, G, B: outBlack + round(numerator / den), numerator = the sum of weight * (sample - centre).
    struct Channel {
        int64_t fromY = 0, fromCb = 0, fromCr = 0;
        int64_t lowNumerator = 0, highNumerator = 0;  // inside: lowNumerator <= n < highNumerator
    };
    Channel rgb_[3];
    // Per chroma code value: Y's interval inside the bounds for the channel
    // that value alone decides (R by Cr, B by Cb) with the luma and chroma
    // bounds, empty when the chroma sample breaks its own; that channel's
    // and green's share of the numerator; and green's bounds split as
    // quotient and remainder by green's fromY, so that Cb's and Cr's parts
    // meet in one compare.
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
    bool planar_ = false;            // Y, Cb and Cr each a plane of whole samples the machine reads directly
    int chromaW_ = 0, chromaH_ = 0;  // log2 of the subsampling
};
