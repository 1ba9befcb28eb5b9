// The converter of decoded pictures to the module's 32-bit RGB words, at
// the levels source_levels.h describes.
#pragma once

#include <cstdint>
#include <vector>

#include "input/chroma_siting.h"
#include "input/deep_samples.h"
#include "input/source_levels.h"
#include "input/yuv_rows.h"
#include "pluginhost/status.h"

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;
class SliceWorkers;

// Converts decoded frames to 0x00RRGGBB words, set up again only when the
// format, size or levels change. Deeper samples are first brought to 8 bits
// (deep_samples.h). YUV goes through integer tables of its own (the
// library's fast paths wrap out-of-gamut levels around and miss by up to
// three levels), subsampled chroma interpolated by its siting
// (chroma_siting.h); the library only unpacks other layouts into planes of
// the same subsampling. With workers, the rows are shared out among their
// threads. `simd` picks the row kernel; every level gives the same words.
class RgbConverter {
public:
    explicit RgbConverter(SimdLevel simd = machineSimdLevel()) : rowKernel_(yuvRowKernel(simd)) {}
    void setWorkers(SliceWorkers* workers) { workers_ = workers; }
    RgbConverter(const RgbConverter&) = delete;
    RgbConverter& operator=(const RgbConverter&) = delete;
    ~RgbConverter();

    // Rows of `dst` are `dstStride` bytes apart (may be negative).
    Status convert(const AVFrame& f, const SourceLevels& levels, RgbLevels out, uint8_t* dst, int dstStride);

    // In two steps, for a caller that converts a frame a few rows at a
    // time: prepare() sets up for `f`, which must outlive the rows() calls;
    // then, where byRows() (YUV sources), rows() converts rows first..last
    // into `dst` (row `first`), from any number of threads at once.
    Status prepare(const AVFrame& f, const SourceLevels& levels, RgbLevels out);
    bool byRows() const { return yuv_; }
    void rows(int32_t first, int32_t last, uint8_t* dst, int dstStride) const;

private:
    void makeTables(const SourceLevels& levels, RgbLevels out);

    YuvRowKernel rowKernel_;
    SliceWorkers* workers_ = nullptr;
    DeepSamples deep_;                // sources of more than 8 bits, brought to 8 first
    const AVFrame* frame_ = nullptr;  // the prepared frame, or its 8-bit copy

    SwsContext* sws_ = nullptr;
    AVFrame* unpacked_ = nullptr;                // 8-bit planes for the tables, of the source's subsampling
    std::vector<ChromaTap> columns_, rowsTaps_;  // each pixel column's and row's chroma
    TapPattern pattern_;
    int format_ = -1, w_ = 0, h_ = 0, site_ = -1, fields_ = -1;
    int matrix_ = -1, fullRange_ = -1, out_ = -1;
    YuvTables tables_ = {};
    // The prepared frame: its planes as the tables read them.
    bool yuv_ = false;
    const uint8_t* const* planes_ = nullptr;
    const int* pitches_ = nullptr;
    // Cb and Cr, 8-bit or (from deeper sources) in quarters, rows `chromaPitch_` bytes apart.
    const void* chroma_[2] = {};
    ptrdiff_t chromaPitch_[2] = {};
    bool quarterChroma_ = false;
    int32_t width_ = 0;
};
