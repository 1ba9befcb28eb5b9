#include "input/source_planes.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

bool measureRgbPlanes(const AVFrame& f, const PlaneWindow& window, SourcePart& part) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
    constexpr int kRgbComponents = 3;
    if (d == nullptr || (d->flags & AV_PIX_FMT_FLAG_RGB) == 0 ||
        (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) != 0 ||
        d->nb_components < kRgbComponents)
        return false;
    for (int c = 0; c < kRgbComponents; ++c)
        if (d->comp[c].depth > kSourceMostBits) return false;
    if (window.left >= window.right || window.first >= window.last) return true;
    // R, G and B are components 0, 1 and 2 whatever the layout. Whole bytes
    // (planar, or packed as bgr0 is) are read where they lie; the library's
    // reader takes the rest (deep samples, either byte order, bit fields).
    const int32_t w = window.right - window.left;
    std::vector<uint16_t> samples(static_cast<size_t>(w));
    for (int c = 0; c < kRgbComponents; ++c) {
        const AVComponentDescriptor& comp = d->comp[c];
        const bool bytes = comp.depth == kSourceByteBits && comp.shift == 0;
        int32_t lo = INT32_MAX, hi = INT32_MIN;
        for (int32_t k = window.first; k < window.last; ++k) {
            if (bytes) {
                const uint8_t* p = f.data[comp.plane] + static_cast<ptrdiff_t>(k) * f.linesize[comp.plane] +
                                   comp.offset + static_cast<ptrdiff_t>(window.left) * comp.step;
                for (int32_t x = 0; x < w; ++x) {
                    lo = std::min<int32_t>(lo, p[x * comp.step]);
                    hi = std::max<int32_t>(hi, p[x * comp.step]);
                }
                continue;
            }
            av_read_image_line2(samples.data(), const_cast<const uint8_t**>(f.data), f.linesize, d,
                                window.left, k, c, w, 0, sizeof(uint16_t));
            const auto [least, most] = std::minmax_element(samples.begin(), samples.end());
            lo = std::min<int32_t>(lo, *least);
            hi = std::max<int32_t>(hi, *most);
        }
        part.lowest[SourcePart::kR + c] = std::min<int64_t>(part.lowest[SourcePart::kR + c], lo);
        part.highest[SourcePart::kR + c] = std::max<int64_t>(part.highest[SourcePart::kR + c], hi);
    }
    part.pixels += static_cast<int64_t>(w) * (window.last - window.first);
    return true;
}
