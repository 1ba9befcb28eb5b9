// A small view of a 32-bit frame, so renderers and drawing never see the
// host's bitmap record (tests, benchmarks and the command-line host build
// these directly).
//
// Frames are stored bottom-up: `data` is the bottom row of the picture.
// Canvas coordinates count y from the top. The mapping between the two lives
// here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

template <typename Pixel>
struct BasicFrame {
    Pixel* data;  // first stored row = bottom row of the picture
    int32_t w;
    int32_t h;
    ptrdiff_t pitch;   // bytes from one stored row to the next
    ptrdiff_t modulo;  // bytes from the end of one row's pixels to the next row

    // A writable frame reads as a read-only one.
    operator BasicFrame<const Pixel>() const requires(!std::is_const_v<Pixel>) {
        return {data, w, h, pitch, modulo};
    }

    // The k-th stored row, counted from the bottom of the picture.
    Pixel* storedRow(int32_t k) const {
        using Byte = std::conditional_t<std::is_const_v<Pixel>, const char, char>;
        return reinterpret_cast<Pixel*>(reinterpret_cast<Byte*>(data) + static_cast<ptrdiff_t>(k) * pitch);
    }

    // Stored rows first .. first + count - 1, as a frame of their own.
    BasicFrame storedRows(int32_t first, int32_t count) const {
        return {storedRow(first), w, count, pitch, modulo};
    }

    // Canvas row y (0 = top of the picture).
    Pixel* canvasRow(int32_t y) const { return storedRow(h - 1 - y); }

    // The row after `row` in storage order, following this frame's modulo.
    Pixel* nextStoredRow(Pixel* rowEnd) const {
        using Byte = std::conditional_t<std::is_const_v<Pixel>, const char, char>;
        return reinterpret_cast<Pixel*>(reinterpret_cast<Byte*>(rowEnd) + modulo);
    }
};

using Frame = BasicFrame<uint32_t>;
using ConstFrame = BasicFrame<const uint32_t>;

inline ConstFrame asConst(const Frame& f) { return {f.data, f.w, f.h, f.pitch, f.modulo}; }

// The output frame a display asks the host for: the source's size on entry
// to the parameter stage, the display's own on return.
struct OutputGeometry {
    int32_t w;
    int32_t h;
    ptrdiff_t pitch;  // bytes
};
