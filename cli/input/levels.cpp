#include "input/levels.h"

#include <algorithm>
#include <cmath>

#include "core/settings_vocabulary.h"
#include "input/deep_samples.h"
#include "os/slice_workers.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// Players read untagged video from 720 rows up as HD.
constexpr int kFirstHdRows = 720;
constexpr int kUnit = 1 << 16;             // swscale's 1.0 for contrast and saturation
constexpr uint32_t kRgbMask = 0x00FFFFFF;  // of a 0x00RRGGBB word
constexpr int kColourComponents = 3;       // Y, Cb, Cr: fewer is grey
// Studio RGB keeps a limited-range source's Y as it is: 16..235 stays
// 16..235, the foot- and headroom too.
constexpr double kStudioLevels = 219.0;

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
        constexpr const char* kNames[] = {"BT.601", "BT.709", "BT.2020"};
        text = std::string(kNames[static_cast<int>(source.matrix)]) +
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

LevelConverter::~LevelConverter() {
    sws_freeContext(sws_);
    av_frame_free(&planes444_);
}

void LevelConverter::makeTables(const SourceLevels& levels, RgbLevels out) {
    constexpr double kKr[] = {0.299, 0.2126, 0.2627}, kKb[] = {0.114, 0.0722, 0.0593};
    const double kr = kKr[static_cast<int>(levels.matrix)], kb = kKb[static_cast<int>(levels.matrix)];
    const double kg = 1.0 - kr - kb;
    constexpr double kMaxLevel = 255.0, kBlack = 16.0, kMidChroma = 128.0, kLimitedChroma = 224.0;
    const bool studio = out == RgbLevels::Studio && !levels.fullRange;
    // Normalised Y' = (Y - yFloor) / ySpan, Pb/Pr = (C - 128) / cSpan; out = lo + span * value.
    const double yFloor = levels.fullRange ? 0.0 : kBlack;
    const double ySpan = levels.fullRange ? kMaxLevel : kStudioLevels;
    const double cSpan = levels.fullRange ? kMaxLevel : kLimitedChroma;
    const double lo = studio ? kBlack : 0.0, span = studio ? kStudioLevels : kMaxLevel;
    constexpr double kOne = kUnit;
    YuvTables& t = tables_;
    for (int v = 0; v < YuvTables::kLevels; ++v) {
        const double yn = (v - yFloor) / ySpan, c = (v - kMidChroma) / cSpan;
        // The half for rounding rides on Y.
        t.y[v] = static_cast<int32_t>(std::lround((lo + span * yn) * kOne + kOne / 2));
        t.cr[v].own = static_cast<int32_t>(std::lround(span * 2 * (1 - kr) * c * kOne));
        t.cb[v].own = static_cast<int32_t>(std::lround(span * 2 * (1 - kb) * c * kOne));
        t.cb[v].green = static_cast<int32_t>(std::lround(-span * 2 * (1 - kb) * kb / kg * c * kOne));
        t.cr[v].green = static_cast<int32_t>(std::lround(-span * 2 * (1 - kr) * kr / kg * c * kOne));
    }
    fitLumaLine(t);
}

Status LevelConverter::prepare(const AVFrame& source, const SourceLevels& levels, RgbLevels out) {
    frame_ = &source;
    if (DeepSamples::reduces(source.format))
        if (Status s = deep_.reduce(source, levels.yuv && !levels.fullRange, frame_); !s.ok()) return s;
    const AVFrame& f = *frame_;
    const int matrix = static_cast<int>(levels.matrix);
    const int fullRange = levels.fullRange ? 1 : 0;
    const int outLevels = static_cast<int>(out);
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(f.format);
    // 8-bit planar Y, Cb, Cr: read where they lie.
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    const bool planar8 = d != nullptr && d->nb_components == 3 && (d->flags & AV_PIX_FMT_FLAG_PLANAR) != 0 &&
                         d->comp[0].depth == 8 && d->comp[1].depth == 8 && d->comp[2].depth == 8 &&
                         d->comp[0].plane == 0 && d->comp[1].plane == 1 && d->comp[2].plane == 2;
    const bool whole = planar8 && d->log2_chroma_w == 0 && d->log2_chroma_h == 0;
    const bool direct = planar8 && (whole || path_ == ChromaPath::InPlace);
    const char* name = av_get_pix_fmt_name(fmt);
    const std::string fmtName = name != nullptr ? name : "(unknown)";
    if (f.format != format_ || f.width != w_ || f.height != h_ || fullRange != fullRange_) {
        sws_freeContext(sws_);
        sws_ = nullptr;
        av_frame_free(&planes444_);
        if (!levels.yuv || !direct) {
            const AVPixelFormat to = levels.yuv ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_0RGB32;
            sws_ = sws_getContext(f.width, f.height, fmt, f.width, f.height, to,
                                  SWS_POINT | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
            if (sws_ == nullptr)
                return Status::fail("cannot convert its pixel format " + fmtName + " to RGB");
        }
        if (levels.yuv && sws_ != nullptr) {
            // Same range in and out: the levels are left to the tables.
            const int* table = sws_getCoefficients(SWS_CS_DEFAULT);
            if (sws_setColorspaceDetails(sws_, table, fullRange, table, fullRange, 0, kUnit, kUnit) < 0)
                return Status::fail("the converter cannot take " + fmtName);
            planes444_ = av_frame_alloc();
            if (planes444_ == nullptr) return Status::fail("out of memory for converting " + fmtName);
            planes444_->format = AV_PIX_FMT_YUV444P;
            planes444_->width = f.width;
            planes444_->height = f.height;
            if (av_frame_get_buffer(planes444_, 0) < 0)
                return Status::fail("out of memory for converting " + fmtName);
        }
        if (direct && !whole)
            if (Status s = mapChroma(f, fullRange); !s.ok()) return s;
        format_ = f.format;
        w_ = f.width;
        h_ = f.height;
        fullRange_ = fullRange;
        matrix_ = -1;
    }
    yuv_ = levels.yuv;
    if (!yuv_) return {};
    if (matrix != matrix_ || outLevels != out_) {
        makeTables(levels, out);
        matrix_ = matrix;
        out_ = outLevels;
    }
    planes_ = f.data;
    pitches_ = f.linesize;
    subsampled_ = direct && !whole;
    width_ = f.width;
    if (!direct) {
        if (sws_scale(sws_, f.data, f.linesize, 0, f.height, planes444_->data, planes444_->linesize) !=
            f.height)
            return Status::fail("converting a frame from " + fmtName + " failed");
        planes_ = planes444_->data;
        pitches_ = planes444_->linesize;
    }
    return {};
}

Status LevelConverter::convert(const AVFrame& f, const SourceLevels& levels, RgbLevels out, uint8_t* dst,
                               int dstStride) {
    if (Status s = prepare(f, levels, out); !s.ok()) return s;
    if (!yuv_) {
        uint8_t* rgbRows[4] = {dst, nullptr, nullptr, nullptr};
        const int strides[4] = {dstStride, 0, 0, 0};
        if (sws_scale(sws_, frame_->data, frame_->linesize, 0, f.height, rgbRows, strides) != f.height)
            return Status::fail("converting a frame to RGB failed");
        // The library sets the unused top byte to 255; the plug-in interface leaves it 0.
        for (int y = 0; y < f.height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(dst + static_cast<ptrdiff_t>(y) * dstStride);
            for (int x = 0; x < f.width; ++x) row[x] &= kRgbMask;
        }
        return {};
    }
    const auto slice = [&](int32_t first, int32_t last) {
        rows(first, last, dst + static_cast<ptrdiff_t>(first) * dstStride, dstStride);
    };
    if (workers_ != nullptr)
        workers_->run(f.height, slice);
    else
        slice(0, f.height);
    return {};
}

namespace {

// Which chroma sample the library gives each pixel along one axis of a
// w x h frame: the samples' positions converted as if they were levels (Cb
// holds each sample's column, Cr its row), the low bytes and then the high
// bytes. The two axes are scaled apart, so `columns` (read along Cb's top
// row) needs only the frame's width and a row or two, and the rows (down
// Cr's first column) only its height: two thin frames instead of a whole one.
Status probeChroma(AVPixelFormat fmt, int w, int h, int fullRange, bool columns, std::vector<int32_t>& map) {
    SwsContext* probe = sws_getContext(w, h, fmt, w, h, AV_PIX_FMT_YUV444P, SWS_POINT | SWS_FULL_CHR_H_INT,
                                       nullptr, nullptr, nullptr);
    AVFrame* in = av_frame_alloc();
    AVFrame* out = av_frame_alloc();
    Status s;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    const int cw = AV_CEIL_RSHIFT(w, d->log2_chroma_w), ch = AV_CEIL_RSHIFT(h, d->log2_chroma_h);
    const int* table = sws_getCoefficients(SWS_CS_DEFAULT);
    if (probe == nullptr || in == nullptr || out == nullptr ||
        sws_setColorspaceDetails(probe, table, fullRange, table, fullRange, 0, kUnit, kUnit) < 0) {
        s = Status::fail("cannot convert its pixel format " + std::string(d->name) + " to RGB");
    } else {
        in->format = fmt;
        out->format = AV_PIX_FMT_YUV444P;
        in->width = out->width = w;
        in->height = out->height = h;
        if (av_frame_get_buffer(in, 0) < 0 || av_frame_get_buffer(out, 0) < 0)
            s = Status::fail("out of memory for converting " + std::string(d->name));
    }
    map.assign(static_cast<size_t>(columns ? w : h), 0);
    constexpr int kByteBits = 8;
    for (int shift = 0; shift < 2 * kByteBits && s.ok(); shift += kByteBits) {
        for (int y = 0; y < h; ++y)
            std::fill_n(in->data[0] + static_cast<ptrdiff_t>(y) * in->linesize[0], w, 0);
        for (int cy = 0; cy < ch; ++cy)
            for (int cx = 0; cx < cw; ++cx) {
                in->data[1][static_cast<ptrdiff_t>(cy) * in->linesize[1] + cx] =
                    static_cast<uint8_t>(cx >> shift);
                in->data[2][static_cast<ptrdiff_t>(cy) * in->linesize[2] + cx] =
                    static_cast<uint8_t>(cy >> shift);
            }
        if (sws_scale(probe, in->data, in->linesize, 0, h, out->data, out->linesize) != h) {
            s = Status::fail("converting a frame from " + std::string(d->name) + " failed");
            break;
        }
        for (size_t k = 0; k < map.size(); ++k)
            map[k] |= (columns ? out->data[1][k] : out->data[2][static_cast<ptrdiff_t>(k) * out->linesize[2]])
                      << shift;
    }
    sws_freeContext(probe);
    av_frame_free(&in);
    av_frame_free(&out);
    return s;
}

}  // namespace

Status LevelConverter::mapChroma(const AVFrame& f, int fullRange) {
    // Only a probe's first row or column is read; a few more keep it an ordinary frame.
    constexpr int kThin = 16;
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(f.format);
    if (Status s = probeChroma(fmt, f.width, std::min(f.height, kThin), fullRange, true, chromaColumn_);
        !s.ok())
        return s;
    if (Status s = probeChroma(fmt, std::min(f.width, kThin), f.height, fullRange, false, chromaRow_);
        !s.ok())
        return s;
    // Mostly each chroma sample covers the same number of pixels from the left.
    pairs_ = av_pix_fmt_desc_get(fmt)->log2_chroma_w == 1;
    for (int x = 0; x < f.width && pairs_; ++x) pairs_ = chromaColumn_[static_cast<size_t>(x)] == x >> 1;
    return {};
}

void LevelConverter::rows(int32_t first, int32_t last, uint8_t* dst, int dstStride) const {
    const uint8_t* const* planes = planes_;
    const int* pitches = pitches_;
    const bool subsampled = subsampled_;
    const ChromaSpread spread = !subsampled ? ChromaSpread::Each
                                : pairs_    ? ChromaSpread::Pairs
                                            : ChromaSpread::Mapped;
    YuvRow row{};
    row.w = width_;
    row.spread = spread;
    row.column = chromaColumn_.data();
    for (int32_t y = first; y < last; y += row.rows) {
        const int32_t cy = subsampled ? chromaRow_[static_cast<size_t>(y)] : y;
        row.rows = 0;
        while (row.rows < YuvRow::kMostRows && y + row.rows < last &&
               (subsampled ? chromaRow_[static_cast<size_t>(y + row.rows)] : y + row.rows) == cy) {
            const int32_t at = y + row.rows;
            row.y[row.rows] = planes[0] + static_cast<ptrdiff_t>(at) * pitches[0];
            row.out[row.rows] =
                reinterpret_cast<uint32_t*>(dst + static_cast<ptrdiff_t>(at - first) * dstStride);
            ++row.rows;
        }
        row.cb = planes[1] + static_cast<ptrdiff_t>(cy) * pitches[1];
        row.cr = planes[2] + static_cast<ptrdiff_t>(cy) * pitches[2];
        // The next rows mostly follow these, on the next chroma row.
        row.ahead[0] = row.rows * static_cast<ptrdiff_t>(pitches[0]);
        row.ahead[1] = pitches[1];
        row.ahead[2] = pitches[2];
        rowKernel_(tables_, row);
    }
}
