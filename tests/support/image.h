// Test-side pictures: a top-down canvas copy of a frame, stored frames with
// padded pitch and a sentinel in the padding, a hash and a PNG writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "draw/frame.h"

inline constexpr uint32_t kSentinel = 0xDEADBEEF;

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

// A frame stored bottom-up with `padPixels` extra words per row holding kSentinel.
class StoredFrame {
public:
    StoredFrame(int32_t w, int32_t h, int32_t padPixels = 0, uint32_t fill = 0);
    explicit StoredFrame(const Image& img, int32_t padPixels = 0);
    Frame frame();
    ConstFrame constFrame() const;
    Image image() const;  // canvas order
    bool paddingIntact() const;
    int32_t w() const { return w_; }
    int32_t h() const { return h_; }
    ptrdiff_t pitch() const { return static_cast<ptrdiff_t>(stride_) * 4; }
    uint32_t* data() { return words_.data(); }

private:
    int32_t w_, h_, stride_;
    std::vector<uint32_t> words_;
};

uint64_t hashImage(const Image& img);  // FNV-1a over size and pixels
// Writes an 8-bit RGB PNG (the top byte is dropped). Returns false on I/O failure.
bool writePng(const std::string& path, const Image& img);

// 75 % colour bars over a full-range grey ramp: the built-in picture of the
// golden tests and of the command-line host.
Image testCard(int32_t w = 320, int32_t h = 240);
