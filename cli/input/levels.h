// How a decoded picture's levels become the module's 32-bit RGB: the YUV
// matrix and range the stream states (or the usual guess when it states
// none), and, per display, whether it wants full-range or studio RGB.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/deep_samples.h"
#include "input/yuv_rows.h"
#include "pluginhost/status.h"

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;
class SliceWorkers;

enum class YuvMatrix { Bt601, Bt709, Bt2020 };

// What the user says over the stream's tags (--input-matrix, --input-range).
struct LevelOverrides {
    std::optional<YuvMatrix> matrix;
    std::optional<bool> fullRange;
};

struct SourceLevels {
    bool yuv = false;  // RGB (and palette) sources are taken as they are
    YuvMatrix matrix = YuvMatrix::Bt601;
    bool fullRange = true;
    bool matrixAssumed = false;  // untagged: chosen by the picture's height
    bool rangeAssumed = false;   // untagged: limited, as YUV nearly always is (grey alone: full)
    int bits = 8;                // per component
};

// Full: levels 0..255 span black to white. Studio: black and white at 16
// and 235, with the foot- and headroom of a limited-range source kept below
// and above.
enum class RgbLevels { Full, Studio };

// The levels a picture of this format and these tags has, overrides first.
// `rows`: the picture's height, for the untagged matrix.
SourceLevels levelsOf(int pixelFormat, AVColorSpace space, AVColorRange range, int rows,
                      const LevelOverrides& overrides);

// The RGB one display wants. The displays that honour the filter's 16-235
// setting (video view, histograms, waveform) get studio RGB from a
// limited-range source, so sub-blacks and super-whites stay visible; the
// vectorscope and the hot pixel scan measure against full-range RGB. The
// picture passed through (`passthru`) gets full-range RGB, as players show it.
RgbLevels rgbLevelsFor(int displayMode, bool passthru, bool filterStudioRange, const SourceLevels& source);

// "BT.709, limited range (untagged: assumed), 10 bits reduced to 8"; "" for 8-bit RGB.
std::string describeLevels(const SourceLevels& source);

// The filter's 601/709 choice for a source matrix (BT.2020's weights are
// nearest 709's).
bool filterUsesStdDef(YuvMatrix matrix);

// How 8-bit planar YUV with subsampled chroma (4:2:0, 4:2:2 ...) reaches
// the tables: read where it lies, each chroma sample repeated over the
// pixels it covers, or brought to 4:4:4 by the library first, the same
// repetition done the slow way (kept as the reference the other is checked
// against).
enum class ChromaPath { InPlace, Library };

// Converts decoded frames to 0x00RRGGBB words, set up again only when the
// format, size or levels change. Deeper samples are first brought to 8 bits
// (deep_samples.h). YUV goes through integer tables of its own (the
// library's fast paths wrap out-of-gamut levels around and miss by up to
// three levels); the library only brings other layouts to 8-bit 4:4:4,
// chroma repeated, not blended. With workers, the rows are
// shared out among their threads. `simd` picks the row kernel; every level
// gives the same words.
class LevelConverter {
public:
    explicit LevelConverter(ChromaPath path = ChromaPath::InPlace, SimdLevel simd = hostSimdLevel())
        : path_(path), rowKernel_(yuvRowKernel(simd)) {}
    void setWorkers(SliceWorkers* workers) { workers_ = workers; }
    LevelConverter(const LevelConverter&) = delete;
    LevelConverter& operator=(const LevelConverter&) = delete;
    ~LevelConverter();

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
    // Where the library takes each pixel's chroma from, for subsampled formats.
    Status mapChroma(const AVFrame& f, int fullRange);

    ChromaPath path_;
    YuvRowKernel rowKernel_;
    SliceWorkers* workers_ = nullptr;
    DeepSamples deep_;                // sources of more than 8 bits, brought to 8 first
    const AVFrame* frame_ = nullptr;  // the prepared frame, or its 8-bit copy

    SwsContext* sws_ = nullptr;
    AVFrame* planes444_ = nullptr;                   // 8-bit 4:4:4 for the tables
    std::vector<int32_t> chromaColumn_, chromaRow_;  // chroma sample of each pixel column and row
    bool pairs_ = false;  // chromaColumn_[x] == x / 2: handled two pixels at a time
    int format_ = -1, w_ = 0, h_ = 0;
    int matrix_ = -1, fullRange_ = -1, out_ = -1;
    YuvTables tables_ = {};
    // The prepared frame: its planes as the tables read them.
    bool yuv_ = false, subsampled_ = false;
    const uint8_t* const* planes_ = nullptr;
    const int* pitches_ = nullptr;
    int32_t width_ = 0;
};
