// The picture tile at another size: each of red, green and blue scaled on
// its own by libswscale's Lanczos filter, so no YUV round trip blurs or
// shifts the colours.
#pragma once

#include <cstdint>
#include <vector>

#include "core/frame.h"
#include "pluginhost/status.h"

struct SwsContext;

class PictureScaler {
public:
    PictureScaler() = default;
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;
    ~PictureScaler();

    Status open(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH);
    // `dst` is dstW x dstH; its pixels get a top byte of 0.
    void scale(const ConstFrame& src, const Frame& dst);

private:
    static constexpr int kChannels = 3;
    SwsContext* sws_ = nullptr;
    int32_t srcW_ = 0, srcH_ = 0, dstW_ = 0, dstH_ = 0;
    std::vector<uint8_t> in_[kChannels], out_[kChannels];
};
