#include "input/source_levels.h"

#include <string_view>

#include "core/settings_vocabulary.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// Players read untagged video from 720 rows up as HD.
constexpr int kFirstHdRows = 720;

std::optional<YuvMatrix> taggedMatrix(AVColorSpace space) {
    switch (space) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_SMPTE240M: return YuvMatrix::Bt709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_FCC: return YuvMatrix::Bt601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return YuvMatrix::Bt2020;
    default: return std::nullopt;
    }
}

}  // namespace

SourceLevels levelsOf(int pixelFormat, AVColorSpace space, AVColorRange range, int rows,
                      const LevelOverrides& overrides) {
    SourceLevels s;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
    if (d != nullptr) s.bits = d->comp[0].depth;
    s.yuv = d != nullptr && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) == 0;
    if (!s.yuv) return s;
    if (overrides.matrix) {
        s.matrix = *overrides.matrix;
    } else if (const std::optional<YuvMatrix> m = taggedMatrix(space)) {
        s.matrix = *m;
    } else {
        s.matrix = rows >= kFirstHdRows ? YuvMatrix::Bt709 : YuvMatrix::Bt601;
        s.matrixAssumed = true;
    }
    // The JPEG formats (yuvj420p ...) are full range by definition.
    const bool jpegFormat = std::string_view(d->name).starts_with("yuvj");
    // Grey alone (gray, gray10le, ya16 ...) untagged is full range, as the
    // library reads it; Y'CbCr nearly always limited.
    const bool greyOnly = d->nb_components < kColourComponents;
    if (overrides.fullRange) {
        s.fullRange = *overrides.fullRange;
    } else if (range == AVCOL_RANGE_JPEG || range == AVCOL_RANGE_MPEG || jpegFormat) {
        s.fullRange = range == AVCOL_RANGE_JPEG || jpegFormat;
    } else {
        s.fullRange = greyOnly;
        s.rangeAssumed = true;
    }
    return s;
}

RgbLevels rgbLevelsFor(int displayMode, bool passthru, bool filterStudioRange, const SourceLevels& source) {
    // The picture passed through is for the eye: full range, as a player shows it.
    if (passthru || !filterStudioRange || !source.yuv || source.fullRange) return RgbLevels::Full;
    switch (static_cast<DisplayMode>(displayMode)) {
    case DisplayMode::Video:
    case DisplayMode::Histograms:
    case DisplayMode::Waveform: return RgbLevels::Studio;
    case DisplayMode::HotPixel:
    case DisplayMode::Vectorscope: break;
    }
    return RgbLevels::Full;
}

std::string describeLevels(const SourceLevels& source) {
    std::string text;
    if (source.yuv) {
        text = std::string(kYuvMatrixNames[static_cast<int>(source.matrix)]) +
               (source.matrixAssumed ? " (untagged)" : "") +
               (source.fullRange ? ", full range" : ", limited range") +
               (source.rangeAssumed ? " (untagged)" : "");
    }
    if (source.bits > 8) {
        if (!text.empty()) text += ", ";
        text += std::to_string(source.bits) + " bits reduced to 8";
    }
    return text;
}

bool filterUsesStdDef(YuvMatrix matrix) { return matrix == YuvMatrix::Bt601; }
