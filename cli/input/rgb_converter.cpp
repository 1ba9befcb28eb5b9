#include "input/rgb_converter.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "input/deep_samples.h"
#include "os/slice_workers.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kUnit = 1 << 16;             // swscale's 1.0 for contrast and saturation
constexpr uint32_t kRgbMask = 0x00FFFFFF;  // of a 0x00RRGGBB word
// Studio RGB keeps a limited-range source's Y as it is: 16..235 stays
// 16..235, the foot- and headroom too.
constexpr double kStudioLevels = kLumaCodeSpan;

}  // namespace

RgbConverter::~RgbConverter() {
    sws_freeContext(sws_);
    av_frame_free(&unpacked_);
}

void RgbConverter::makeTables(const SourceLevels& levels, RgbLevels out) {
    const LumaWeights& weights = lumaWeightsOf(levels.matrix);
    const double kr = weights.kr(), kb = weights.kb();
    constexpr double kMaxLevel = kFullWhiteCode, kBlack = kLumaBlackCode, kLimitedChroma = kChromaCodeSpan;
    const bool studio = out == RgbLevels::Studio && !levels.fullRange;
    // Normalised Y' = (Y - yFloor) / ySpan, Pb/Pr = (C - 128) / cSpan; out = lo + span * value.
    const double yFloor = levels.fullRange ? 0.0 : kBlack;
    const double ySpan = levels.fullRange ? kMaxLevel : kStudioLevels;
    const double cSpan = levels.fullRange ? kMaxLevel : kLimitedChroma;
    const double lo = studio ? kBlack : 0.0, span = studio ? kStudioLevels : kMaxLevel;
    constexpr double kOne = kUnit;
    YuvTables& t = tables_;
    for (int v = 0; v < YuvTables::kLevels; ++v) {
        const double yn = (v - yFloor) / ySpan;
        // The half for rounding rides on Y.
        t.y[v] = static_cast<int32_t>(std::lround((lo + span * yn) * kOne + kOne / 2));
    }
    // Per eighth of a chroma level.
    const double unit = span / cSpan / (1 << kFineBits) * kOne;
    const auto factor = [unit](double weight) { return static_cast<int16_t>(std::lround(weight * unit)); };
    t.chroma.crRed = factor(crToRed(kr));
    t.chroma.cbBlue = factor(cbToBlue(kb));
    t.chroma.cbGreen = factor(cbToGreen(kr, kb));
    t.chroma.crGreen = factor(crToGreen(kr, kb));
    fitLumaLine(t);
}

namespace {

// The planar 8-bit format with the same subsampling, which the library
// unpacks other layouts into sample for sample (grey: 4:4:4, chroma neutral).
AVPixelFormat planarLike(const AVPixFmtDescriptor& d) {
    struct Planar {
        int log2W, log2H;
        AVPixelFormat format;
    };
    constexpr Planar kPlanar[] = {{0, 0, AV_PIX_FMT_YUV444P}, {1, 0, AV_PIX_FMT_YUV422P},
                                  {1, 1, AV_PIX_FMT_YUV420P}, {2, 0, AV_PIX_FMT_YUV411P},
                                  {2, 2, AV_PIX_FMT_YUV410P}, {0, 1, AV_PIX_FMT_YUV440P}};
    if (d.nb_components >= kColourComponents)
        for (const Planar& p : kPlanar)
            if (p.log2W == d.log2_chroma_w && p.log2H == d.log2_chroma_h) return p.format;
    return AV_PIX_FMT_YUV444P;
}

}  // namespace

Status RgbConverter::prepare(const AVFrame& source, const SourceLevels& levels, RgbLevels out) {
    frame_ = &source;
    if (DeepSamples::reduces(source.format))
        if (Status s = deep_.reduce(source, levels.yuv && !levels.fullRange, frame_); !s.ok()) return s;
    const AVFrame& f = *frame_;
    const int matrix = static_cast<int>(levels.matrix);
    const int fullRange = levels.fullRange ? 1 : 0;
    const int outLevels = static_cast<int>(out);
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(f.format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    // 8-bit planar Y, Cb, Cr: read where they lie.
    const bool planar8 = d != nullptr && d->nb_components == 3 && (d->flags & AV_PIX_FMT_FLAG_PLANAR) != 0 &&
                         d->comp[0].depth == 8 && d->comp[1].depth == 8 && d->comp[2].depth == 8 &&
                         d->comp[0].plane == 0 && d->comp[1].plane == 1 && d->comp[2].plane == 2;
    const char* name = av_get_pix_fmt_name(fmt);
    const std::string fmtName = name != nullptr ? name : "(unknown)";
    const bool formatChanged = f.format != format_ || f.width != w_ || f.height != h_;
    if (formatChanged || fullRange != fullRange_) {
        sws_freeContext(sws_);
        sws_ = nullptr;
        av_frame_free(&unpacked_);
        if (!levels.yuv || !planar8) {
            const AVPixelFormat to = !levels.yuv ? AV_PIX_FMT_0RGB32 : planarLike(*d);
            sws_ = sws_getContext(f.width, f.height, fmt, f.width, f.height, to, SWS_POINT, nullptr, nullptr,
                                  nullptr);
            if (sws_ == nullptr)
                return Status::fail("cannot convert its pixel format " + fmtName + " to RGB");
        }
        if (levels.yuv && sws_ != nullptr) {
            // Same range in and out: the levels are left to the tables.
            const int* table = sws_getCoefficients(SWS_CS_DEFAULT);
            if (sws_setColorspaceDetails(sws_, table, fullRange, table, fullRange, 0, kUnit, kUnit) < 0)
                return Status::fail("the converter cannot take " + fmtName);
            unpacked_ = av_frame_alloc();
            if (unpacked_ == nullptr) return Status::fail("out of memory for converting " + fmtName);
            unpacked_->format = planarLike(*d);
            unpacked_->width = f.width;
            unpacked_->height = f.height;
            if (av_frame_get_buffer(unpacked_, 0) < 0)
                return Status::fail("out of memory for converting " + fmtName);
        }
        format_ = f.format;
        w_ = f.width;
        h_ = f.height;
        fullRange_ = fullRange;
        matrix_ = -1;
    }
    yuv_ = levels.yuv;
    if (!yuv_) return {};
    const int site = static_cast<int>(levels.chromaSite), fields = levels.fields ? 1 : 0;
    if (formatChanged || site != site_ || fields != fields_) {
        const AVPixFmtDescriptor* planes = av_pix_fmt_desc_get(planar8 ? fmt : planarLike(*d));
        columns_ = columnTaps(f.width, planes->log2_chroma_w, levels.chromaSite);
        pattern_ = tapPattern(columns_, planes->log2_chroma_w);
        rowsTaps_ = rowTaps(f.height, planes->log2_chroma_h, levels.chromaSite, levels.fields);
        site_ = site;
        fields_ = fields;
    }
    if (matrix != matrix_ || outLevels != out_) {
        makeTables(levels, out);
        matrix_ = matrix;
        out_ = outLevels;
    }
    planes_ = f.data;
    pitches_ = f.linesize;
    width_ = f.width;
    if (!planar8) {
        if (sws_scale(sws_, f.data, f.linesize, 0, f.height, unpacked_->data, unpacked_->linesize) !=
            f.height)
            return Status::fail("converting a frame from " + fmtName + " failed");
        planes_ = unpacked_->data;
        pitches_ = unpacked_->linesize;
    }
    // Deeper colour keeps its chroma in quarters; grey's is neutral 8-bit.
    const AVPixFmtDescriptor* sourceFormat = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(source.format));
    quarterChroma_ = frame_ != &source && sourceFormat->nb_components >= kColourComponents;
    for (int c = 0; c < 2; ++c) {
        chroma_[c] = quarterChroma_ ? static_cast<const void*>(deep_.quarters(c + 1)) : planes_[c + 1];
        chromaPitch_[c] = quarterChroma_ ? deep_.quarterPitch() * static_cast<ptrdiff_t>(sizeof(uint16_t))
                                         : pitches_[c + 1];
    }
    return {};
}

Status RgbConverter::convert(const AVFrame& f, const SourceLevels& levels, RgbLevels out, uint8_t* dst,
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

template <typename Sample>
const Sample* chromaRow(const void* plane, ptrdiff_t pitch, int32_t row) {
    return reinterpret_cast<const Sample*>(static_cast<const uint8_t*>(plane) + row * pitch);
}

}  // namespace

void RgbConverter::rows(int32_t first, int32_t last, uint8_t* dst, int dstStride) const {
    alignas(64) int16_t cb[kFineRun], cr[kFineRun];
    const auto fine = [&]<typename Sample>(const ChromaTap& tap, int32_t x, int32_t n, Sample) {
        fineChroma(chromaRow<Sample>(chroma_[0], chromaPitch_[0], tap.first),
                   chromaRow<Sample>(chroma_[0], chromaPitch_[0], tap.second), tap.weight, columns_.data(),
                   pattern_, x, n, cb);
        fineChroma(chromaRow<Sample>(chroma_[1], chromaPitch_[1], tap.first),
                   chromaRow<Sample>(chroma_[1], chromaPitch_[1], tap.second), tap.weight, columns_.data(),
                   pattern_, x, n, cr);
    };
    for (int32_t y = first; y < last; ++y) {
        const ChromaTap& tap = rowsTaps_[static_cast<size_t>(y)];
        const uint8_t* luma = planes_[0] + static_cast<ptrdiff_t>(y) * pitches_[0];
        auto* out = reinterpret_cast<uint32_t*>(dst + static_cast<ptrdiff_t>(y - first) * dstStride);
        for (int32_t x = 0; x < width_; x += kFineRun) {
            const int32_t n = std::min(kFineRun, width_ - x);
            if (quarterChroma_)
                fine(tap, x, n, uint16_t{});
            else
                fine(tap, x, n, uint8_t{});
            rowKernel_(tables_, YuvRow{luma + x, cb, cr, out + x, n, pitches_[0]});
        }
    }
}
