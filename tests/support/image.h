// Test-side pictures: a top-down canvas copy of a frame, stored frames with
// padded pitch and a sentinel in the padding, a hash and a PNG writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/frame.h"
#include "pluginhost/frame_buffer.h"

inline constexpr uint32_t kSentinel = kPaddingSentinel;

// Pixels in canvas order: row 0 is the top of the picture.
struct Image {
    int32_t w = 0;
    int32_t h = 0;
    std::vector<uint32_t> px;

    Image() = default;
    Image(int32_t width, int32_t height, uint32_t fill = 0)
        : w(width), h(height), px(static_cast<size_t>(width) * height, fill) {}
    uint32_t& at(int32_t x, int32_t y) { return px[static_cast<size_t>(y) * w + x]; }
    uint32_t at(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * w + x]; }
};

// A frame stored bottom-up with `padPixels` extra words per row holding the
// host library's sentinel.
class StoredFrame : public FrameBuffer {
public:
    StoredFrame(int32_t w, int32_t h, int32_t padPixels = 0, uint32_t fill = 0)
        : FrameBuffer(w, h, kBytesPerPixel * (static_cast<ptrdiff_t>(w) + padPixels), fill) {}
    explicit StoredFrame(const Image& img, int32_t padPixels = 0);
    ConstFrame constFrame() const { return frame(); }
    Image image() const;  // canvas order
    uint32_t* data() { return frame().data; }
};

Image imageOf(const ConstFrame& f);  // canvas order

uint64_t hashImage(const Image& img);  // FNV-1a over size and pixels
// Writes an 8-bit RGB PNG (the top byte is dropped). Returns false on I/O failure.
bool writePng(const std::string& path, const Image& img);

// The built-in test card as an Image: the picture of the golden tests and
// of the command-line host.
Image testCard(int32_t w = 320, int32_t h = 240);
