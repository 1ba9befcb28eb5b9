// A decoded picture's levels: the YUV matrix and range the stream states
// (or the usual guess when it states none), and, per display, whether it
// wants full-range or studio RGB. What converts the picture at those
// levels is rgb_converter.h.
#pragma once

#include <optional>
#include <string>

#include "input/colour_standards.h"

extern "C" {
#include <libavutil/frame.h>
}

// Y, Cb and Cr: a format with fewer components is grey.
inline constexpr int kColourComponents = 3;

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
