// Samples of more than 8 bits brought to 8 by the host itself, each rounded
// to the nearest level: an n-bit full-range or RGB value x becomes
// x * 255 / (2^n - 1), so both ends stay at 0 and 255; a limited-range
// Y'CbCr value becomes x / 2^(n-8), so black, white and the chroma's zero
// land on the 8-bit codes they stand for. The library's own reduction
// truncates or dithers, which puts about half the levels of a ramp one off.
#pragma once

#include <cstdint>
#include <vector>

#include "pluginhost/status.h"

extern "C" {
#include <libavutil/frame.h>
}

// n-bit samples (`mask` keeps their bits, `drop` = n - 8) brought to 8 bits
// as limited-range Y'CbCr is: x / 2^drop rounded to the nearest, a half up,
// at most 255.
void shiftSamplesTo8(const uint16_t* in, uint8_t* out, int32_t n, uint32_t mask, uint32_t drop);

class DeepSamples {
public:
    DeepSamples() = default;
    DeepSamples(const DeepSamples&) = delete;
    DeepSamples& operator=(const DeepSamples&) = delete;
    ~DeepSamples();

    // Whether frames of `format` are reduced here: integer samples of 9 to 16
    // bits, all of one depth.
    static bool reduces(int format);

    // An 8-bit copy of `f`: planar Y'CbCr with the same chroma subsampling
    // (grey gets neutral chroma), or 0x00RRGGBB words for RGB; alpha is
    // dropped, as it is from 8-bit sources. `limited`: limited-range
    // Y'CbCr (or grey). The copy lasts until the next call.
    Status reduce(const AVFrame& f, bool limited, const AVFrame*& out);

private:
    void makeTable(int bits, bool limited);

    AVFrame* out_ = nullptr;
    std::vector<uint16_t> line_[3];  // one row of each component, as read
    std::vector<uint8_t> table_;     // the 8-bit level of each n-bit one
    int tableBits_ = 0, tableLimited_ = -1;
};
