// How a decoded picture's levels become the module's 32-bit RGB: the YUV
// matrix and range the stream states (or the usual guess when it states
// none), and, per display, whether it wants full-range or studio RGB.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/chroma_siting.h"
#include "input/colour_standards.h"
#include "input/deep_samples.h"
#include "input/yuv_rows.h"
#include "pluginhost/status.h"

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;
class SliceWorkers;

// What the user says over the stream's tags (--input-matrix, --input-range,
// --field-order).
struct LevelOverrides {
    std::optional<YuvMatrix> matrix;
    std::optional<bool> fullRange;
    std::optional<bool> fields;  // interlaced (tff, bff) or progressive
};

struct SourceLevels {
    bool yuv = false;  // RGB (and palette) sources are taken as they are
    YuvMatrix matrix = YuvMatrix::Bt601;
    bool fullRange = true;
    bool matrixAssumed = false;  // untagged: chosen by the picture's height
    bool rangeAssumed = false;   // untagged: limited, as YUV nearly always is (grey alone: full)
    int bits = 8;                // per component
    // Where subsampled chroma sits (untagged: left, as MPEG-2 and H.264
    // have it), and whether the frame is two interlaced fields.
    AVChromaLocation chromaSite = AVCHROMA_LOC_UNSPECIFIED;
    bool fields = false;
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

// Converts decoded frames to 0x00RRGGBB words, set up again only when the
// format, size or levels change. Deeper samples are first brought to 8 bits
// (deep_samples.h). YUV goes through integer tables of its own (the
// library's fast paths wrap out-of-gamut levels around and miss by up to
// three levels), subsampled chroma interpolated by its siting
// (chroma_siting.h); the library only unpacks other layouts into planes of
// the same subsampling. With workers, the rows are shared out among their
// threads. `simd` picks the row kernel; every level gives the same words.
class LevelConverter {
public:
    explicit LevelConverter(SimdLevel simd = hostSimdLevel()) : rowKernel_(yuvRowKernel(simd)) {}
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
