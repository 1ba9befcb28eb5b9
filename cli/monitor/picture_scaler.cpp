#include "monitor/picture_scaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

constexpr int kShifts[] = {16, 8, 0};  // red, green, blue in 0x00RRGGBB
constexpr uint32_t kChannelMask = 0xFF;

}  // namespace

PictureScaler::~PictureScaler() { sws_freeContext(sws_); }

Status PictureScaler::open(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH) {
    sws_freeContext(sws_);
    sws_ = sws_getContext(srcW, srcH, AV_PIX_FMT_GRAY8, dstW, dstH, AV_PIX_FMT_GRAY8,
                          SWS_LANCZOS | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (sws_ == nullptr)
        return Status::fail("cannot scale the picture from " + std::to_string(srcW) + "x" +
                            std::to_string(srcH) + " to " + std::to_string(dstW) + "x" +
                            std::to_string(dstH));
    srcW_ = srcW;
    srcH_ = srcH;
    dstW_ = dstW;
    dstH_ = dstH;
    for (int c = 0; c < kChannels; ++c) {
        in_[c].resize(static_cast<size_t>(srcW) * srcH);
        out_[c].resize(static_cast<size_t>(dstW) * dstH);
    }
    return {};
}

void PictureScaler::scale(const ConstFrame& src, const Frame& dst) {
    for (int32_t y = 0; y < srcH_; ++y) {
        const uint32_t* row = src.canvasRow(y);
        const size_t at = static_cast<size_t>(y) * srcW_;
        for (int32_t x = 0; x < srcW_; ++x)
            for (int c = 0; c < kChannels; ++c) in_[c][at + x] = static_cast<uint8_t>(row[x] >> kShifts[c]);
    }
    for (int c = 0; c < kChannels; ++c) {
        const uint8_t* const in[] = {in_[c].data()};
        uint8_t* const out[] = {out_[c].data()};
        const int inStride[] = {srcW_}, outStride[] = {dstW_};
        sws_scale(sws_, in, inStride, 0, srcH_, out, outStride);
    }
    for (int32_t y = 0; y < dstH_; ++y) {
        uint32_t* row = dst.canvasRow(y);
        const size_t at = static_cast<size_t>(y) * dstW_;
        for (int32_t x = 0; x < dstW_; ++x) {
            uint32_t px = 0;
            for (int c = 0; c < kChannels; ++c)
                px |= (uint32_t{out_[c][at + x]} & kChannelMask) << kShifts[c];
            row[x] = px;
        }
    }
}
