// Frame storage owned by the host: 32-bit 0x00RRGGBB pixels, rows stored
// bottom-up as the plug-in interface hands them over, with optional padding
// after each row that holds a sentinel, so a stray write shows up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/frame.h"
#include "pluginhost/frame_memory.h"
#include "sdk/filter_sdk.h"

inline constexpr uint32_t kPaddingSentinel = 0xDEADBEEF;
inline constexpr uint32_t kPixelMask = 0x00FFFFFF;  // the top byte of a pixel is unused
inline constexpr int kBytesPerPixel = 4;

class FrameBuffer {
public:
    FrameBuffer() = default;
    // `pitch` in bytes: at least 4 * w and a multiple of 4. Pixels start as `fill`.
    FrameBuffer(int32_t w, int32_t h, ptrdiff_t pitch, uint32_t fill = 0);

    int32_t w() const { return w_; }
    int32_t h() const { return h_; }
    ptrdiff_t pitch() const { return pitch_; }
    ptrdiff_t modulo() const { return pitch_ - kBytesPerPixel * static_cast<ptrdiff_t>(w_); }

    Frame frame() { return {words_.data(), w_, h_, pitch_, modulo()}; }
    ConstFrame frame() const { return {words_.data(), w_, h_, pitch_, modulo()}; }
    // The picture's top row as bytes, with the (negative) stride that walks
    // it downwards: what FFmpeg's converters take for a bottom-up frame.
    uint8_t* topRowBytes() { return reinterpret_cast<uint8_t*>(frame().canvasRow(0)); }
    const uint8_t* topRowBytes() const { return reinterpret_cast<const uint8_t*>(frame().canvasRow(0)); }
    int topDownStride() const { return -static_cast<int>(pitch_); }

    // The record the module reads: data, w, h, pitch, modulo, size.
    void describe(sdk::VFBitmap& b);

    // Clears the top byte of every pixel (FFmpeg's converters set it to 255).
    void clearTopBytes();
    bool paddingIntact() const;

private:
    int32_t w_ = 0, h_ = 0;
    ptrdiff_t pitch_ = 0;
    std::vector<uint32_t, FrameAllocator<uint32_t>> words_;
};
