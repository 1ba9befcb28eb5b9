#include "pluginhost/frame_buffer.h"

#include <algorithm>

FrameBuffer::FrameBuffer(int32_t w, int32_t h, ptrdiff_t pitch, uint32_t fill)
    : w_(w),
      h_(h),
      pitch_(pitch),
      // At least one word, so even an empty frame has an address to hand over.
      words_(std::max<size_t>(1, static_cast<size_t>(pitch / kBytesPerPixel) * static_cast<size_t>(h))) {
    // The memory reads as zero: only other fills and the padding are
    // written. An empty frame's one word is padding.
    if (w_ == 0 || h_ == 0) words_.front() = kPaddingSentinel;
    Frame f = frame();
    const int32_t stride = static_cast<int32_t>(pitch_ / kBytesPerPixel);
    for (int32_t k = 0; k < h_; ++k) {
        uint32_t* row = f.storedRow(k);
        if (fill != 0) std::fill_n(row, w_, fill);
        std::fill(row + w_, row + stride, kPaddingSentinel);
    }
}

void FrameBuffer::describe(sdk::VFBitmap& b) {
    b.data = words_.data();
    b.depth = 32;
    b.w = w_;
    b.h = h_;
    b.pitch = pitch_;
    b.modulo = modulo();
    b.size = pitch_ * h_;
}

void FrameBuffer::clearTopBytes() {
    Frame f = frame();
    for (int32_t k = 0; k < h_; ++k) {
        uint32_t* row = f.storedRow(k);
        for (int32_t x = 0; x < w_; ++x) row[x] &= kPixelMask;
    }
}

bool FrameBuffer::paddingIntact() const {
    const ConstFrame f = frame();
    const int32_t stride = static_cast<int32_t>(pitch_ / kBytesPerPixel);
    for (int32_t k = 0; k < h_; ++k) {
        const uint32_t* row = f.storedRow(k);
        if (!std::all_of(row + w_, row + stride, [](uint32_t v) { return v == kPaddingSentinel; }))
            return false;
    }
    return true;
}
