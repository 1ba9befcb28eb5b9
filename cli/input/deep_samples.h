// Samples of more than 8 bits brought to 8 by kivrel itself, each rounded
// to the nearest level: an n-bit full-range or RGB value x becomes
// x * 255 / (2^n - 1), so both ends stay at 0 and 255; a limited-range
// Y'CbCr value becomes x / 2^(n-8) (a tie to the even level, so the mean
// stays where it is), so black, white and the chroma's zero
// land on the 8-bit codes they stand for. The library's own reduction
// truncates or dithers, which puts about half the levels of a ramp one off.
#pragma once

#include <cstdint>
#include <vector>

#include "input/fine_chroma.h"
#include "pluginhost/status.h"

extern "C" {
#include <libavutil/frame.h>
}

// n-bit samples (`mask` keeps their bits, `drop` = n - 8) brought to 8 bits
// as limited-range Y'CbCr is: x / 2^drop rounded to the nearest, a tie to
// the even level, at most 255.
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

    // After reduce() of colour Y'CbCr, whose copy then holds Y alone: Cb and
    // Cr (plane 1, 2) in quarters of an 8-bit level, rounded as the levels
    // are, which keep what whole levels would lose of the deeper chroma (a
    // half level of Cb moves blue by a whole one). Rows `quarterPitch()`
    // samples apart.
    const uint16_t* quarters(int plane) const { return quarters_[plane - 1].data(); }
    ptrdiff_t quarterPitch() const { return quarterPitch_; }
    static constexpr int kQuarterBits = kDeepChromaBits;

private:
    void makeTable(int bits, bool limited);
    void makeQuarterTable(int bits, bool limited);

    AVFrame* out_ = nullptr;
    std::vector<uint16_t> line_[3];  // one row of each component, as read
    std::vector<uint8_t> table_;     // the 8-bit level of each n-bit one
    int tableBits_ = 0, tableLimited_ = -1;
    std::vector<uint16_t> quarterTable_;  // the quarter level of each n-bit one
    int quarterBits_ = 0, quarterLimited_ = -1;
    std::vector<uint16_t> quarters_[2];  // Cb, Cr
    ptrdiff_t quarterPitch_ = 0;
};
