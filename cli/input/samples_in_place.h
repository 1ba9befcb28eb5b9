// Decoded samples read where they lie, without the library's line reader,
// which costs more than any of the work done on them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

// Whether component `c` of a format with `flags` can be read in place:
// whole bytes, or 9 to 16 bits in the machine's own 16-bit words, one sample
// per step, nothing packed around it.
inline bool readsInPlace(const AVComponentDescriptor& c, uint64_t flags) {
    constexpr int kByteBits = 8, kWordBits = 16;
    const bool be = (flags & AV_PIX_FMT_FLAG_BE) != 0;
    if (c.shift != 0 || c.offset != 0 || (flags & AV_PIX_FMT_FLAG_BITSTREAM) != 0) return false;
    if (c.depth == kByteBits) return c.step == 1;
    return c.depth > kByteBits && c.depth <= kWordBits && c.step == 2 &&
           be == (std::endian::native == std::endian::big);
}

// Row `k` of component `c`'s plane as samples of type `Sample`.
template <typename Sample>
const Sample* samplesAt(const AVFrame& f, const AVComponentDescriptor& c, int32_t k) {
    return reinterpret_cast<const Sample*>(f.data[c.plane] + static_cast<ptrdiff_t>(k) * f.linesize[c.plane]);
}
