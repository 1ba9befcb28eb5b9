#include "input/deep_samples.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "input/samples_in_place.h"

namespace {

constexpr int kOutBits = 8;
constexpr int kMostBits = 16;  // what a row of uint16_t holds
constexpr uint32_t kTop8 = (1u << kOutBits) - 1;
constexpr uint8_t kNeutralChroma = 1u << (kOutBits - 1);
constexpr int kRgbShifts[] = {16, 8, 0};  // red, green, blue in 0x00RRGGBB
constexpr int kColourComponents = 3;
// Sample layouts that are not plain integers, or whose levels are indices.
constexpr uint64_t kOtherSamples =
    AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL;

// The 8-bit planar Y'CbCr format with the same chroma subsampling.
AVPixelFormat planar8Like(const AVPixFmtDescriptor& d) {
    for (const AVPixFmtDescriptor* c = av_pix_fmt_desc_next(nullptr); c != nullptr;
         c = av_pix_fmt_desc_next(c)) {
        if (c->nb_components != kColourComponents ||
            (c->flags & (AV_PIX_FMT_FLAG_RGB | kOtherSamples)) != 0 ||
            (c->flags & AV_PIX_FMT_FLAG_PLANAR) == 0 || c->log2_chroma_w != d.log2_chroma_w ||
            c->log2_chroma_h != d.log2_chroma_h || std::string_view(c->name).starts_with("yuvj"))
            continue;
        bool plain = true;
        for (int k = 0; k < kColourComponents; ++k)
            plain = plain && c->comp[k].depth == kOutBits && c->comp[k].plane == k && c->comp[k].step == 1 &&
                    c->comp[k].shift == 0;
        if (plain) return av_pix_fmt_desc_get_id(c);
    }
    return AV_PIX_FMT_NONE;
}

}  // namespace

namespace {

// x / 2^Drop to the nearest, a tie to the even level (a tie always up
// would lift a 9-bit picture by a quarter of a level on average), without
// the sum x + half, which would not fit 16 bits: the top dropped bit carries
// unless it is a tie on an even level. With the shift known, the compiler
// keeps the row in 16-bit lanes.
template <int Drop>
void shiftRow(const uint16_t* __restrict in, uint8_t* __restrict out, int32_t n, uint16_t mask) {
    constexpr uint16_t kBelowHalf = (1u << (Drop - 1)) - 1;
    for (int32_t x = 0; x < n; ++x) {
        const uint16_t v = in[x] & mask;
        const uint16_t kept = static_cast<uint16_t>(v >> Drop);
        const uint16_t half = static_cast<uint16_t>((v >> (Drop - 1)) & 1);
        const uint16_t past = static_cast<uint16_t>(((v & kBelowHalf) != 0) | (kept & 1));
        const uint16_t level = static_cast<uint16_t>(kept + (half & past));
        out[x] = static_cast<uint8_t>(level < kTop8 ? level : kTop8);
    }
}

using ShiftRow = void (*)(const uint16_t*, uint8_t*, int32_t, uint16_t);
template <size_t... Less>  // Drop - 1
constexpr std::array<ShiftRow, sizeof...(Less)> shiftRows(std::index_sequence<Less...>) {
    return {&shiftRow<static_cast<int>(Less) + 1>...};
}
constexpr auto kShiftRows = shiftRows(std::make_index_sequence<kMostBits - kOutBits>{});  // by drop - 1

}  // namespace

void shiftSamplesTo8(const uint16_t* in, uint8_t* out, int32_t n, uint32_t mask, uint32_t drop) {
    kShiftRows[drop - 1](in, out, n, static_cast<uint16_t>(mask));
}

DeepSamples::~DeepSamples() { av_frame_free(&out_); }

bool DeepSamples::reduces(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    // XYZ is neither Y'CbCr nor RGB: the library converts it.
    if (d == nullptr || d->nb_components == 0 ||
        (d->flags & (kOtherSamples | AV_PIX_FMT_FLAG_BITSTREAM)) != 0 ||
        std::string_view(d->name).starts_with("xyz"))
        return false;
    const int bits = d->comp[0].depth;
    for (int k = 1; k < d->nb_components; ++k)
        if (d->comp[k].depth != bits) return false;
    return bits > kOutBits && bits <= kMostBits;
}

void DeepSamples::makeTable(int bits, bool limited) {
    if (bits == tableBits_ && int{limited} == tableLimited_) return;
    const uint32_t top = (1u << bits) - 1, drop = static_cast<uint32_t>(bits - kOutBits);
    table_.resize(size_t{top} + 1);
    for (uint32_t x = 0; x <= top; ++x) {
        // Integer rounding to the nearest: full range never meets a tie
        // (2^n - 1 is odd); limited range rounds a tie to even.
        if (limited) {
            const uint16_t in = static_cast<uint16_t>(x);
            shiftSamplesTo8(&in, &table_[x], 1, top, drop);
        } else {
            table_[x] = static_cast<uint8_t>(std::min((2 * x * kTop8 + top) / (2 * top), kTop8));
        }
    }
    tableBits_ = bits;
    tableLimited_ = limited ? 1 : 0;
}

void DeepSamples::makeQuarterTable(int bits, bool limited) {
    if (bits == quarterBits_ && int{limited} == quarterLimited_) return;
    // Up to the last quarter below 256: the deepest codes of a limited-range
    // source lie above level 255.
    const uint32_t top = (1u << bits) - 1, topQuarter = (1u << (kOutBits + kQuarterBits)) - 1;
    quarterTable_.resize(size_t{top} + 1);
    for (uint32_t x = 0; x <= top; ++x) {
        uint32_t q = 0;
        if (limited) {  // x / 2^(n - 10), a tie to even; 9 bits are whole quarters already
            const int drop = bits - kOutBits - kQuarterBits;
            const uint32_t below = drop <= 0 ? 0 : x & ((1u << drop) - 1),
                           half = drop <= 0 ? 0 : 1u << (drop - 1);
            q = drop <= 0 ? x << -drop : (x >> drop) + (below > half || (below == half && ((x >> drop) & 1)));
        } else {  // x * 1020 / (2^n - 1), to the nearest (no ties: 2^n - 1 is odd)
            constexpr uint32_t kWhite = kTop8 << kQuarterBits;
            q = (2 * x * kWhite + top) / (2 * top);
        }
        quarterTable_[x] = static_cast<uint16_t>(std::min(q, topQuarter));
    }
    quarterBits_ = bits;
    quarterLimited_ = limited ? 1 : 0;
}

Status DeepSamples::reduce(const AVFrame& f, bool limited, const AVFrame*& out) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
    const std::string name = d != nullptr ? d->name : "(unknown)";
    if (!reduces(f.format)) return Status::fail("cannot bring " + name + " to 8 bits");
    const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    const bool grey = !rgb && d->nb_components < kColourComponents;
    const AVPixelFormat to = rgb ? AV_PIX_FMT_0RGB32 : grey ? AV_PIX_FMT_YUV444P : planar8Like(*d);
    if (to == AV_PIX_FMT_NONE) return Status::fail("cannot bring " + name + " to 8 bits");
    if (out_ == nullptr || out_->format != to || out_->width != f.width || out_->height != f.height) {
        av_frame_free(&out_);
        out_ = av_frame_alloc();
        if (out_ == nullptr) return Status::fail("out of memory for bringing " + name + " to 8 bits");
        out_->format = to;
        out_->width = f.width;
        out_->height = f.height;
        if (av_frame_get_buffer(out_, 0) < 0)
            return Status::fail("out of memory for bringing " + name + " to 8 bits");
    }
    for (std::vector<uint16_t>& line : line_) line.resize(static_cast<size_t>(f.width));
    const bool limitedRange = limited && !rgb;
    makeTable(d->comp[0].depth, limitedRange);
    const uint8_t* planes[AV_NUM_DATA_POINTERS];
    std::copy_n(f.data, AV_NUM_DATA_POINTERS, planes);
    // A row of a component, where it lies if the machine reads it so: the
    // library's reader took as long as all the rest of a 10-bit report.
    const auto read = [&](int component, int y, int w) -> const uint16_t* {
        if (readsInPlace(d->comp[component], d->flags)) return samplesAt<uint16_t>(f, d->comp[component], y);
        av_read_image_line2(line_[component].data(), planes, f.linesize, d, 0, y, component, w, 0,
                            sizeof(uint16_t));
        return line_[component].data();
    };
    const uint32_t bits = static_cast<uint32_t>(d->comp[0].depth), mask = (1u << bits) - 1;
    if (rgb) {
        for (int y = 0; y < f.height; ++y) {
            const uint16_t* in[kColourComponents];
            for (int c = 0; c < kColourComponents; ++c) in[c] = read(c, y, f.width);
            auto* row =
                reinterpret_cast<uint32_t*>(out_->data[0] + static_cast<ptrdiff_t>(y) * out_->linesize[0]);
            for (int x = 0; x < f.width; ++x) {
                uint32_t word = 0;
                for (int c = 0; c < kColourComponents; ++c)
                    word |= uint32_t{table_[in[c][x] & mask]} << kRgbShifts[c];
                row[x] = word;
            }
        }
    } else {
        // Y; colour chroma goes to the quarters alone.
        for (int y = 0; y < f.height; ++y) {
            const uint16_t* in = read(0, y, f.width);
            uint8_t* row = out_->data[0] + static_cast<ptrdiff_t>(y) * out_->linesize[0];
            // Limited range by arithmetic, full range through the table.
            if (limitedRange)
                shiftSamplesTo8(in, row, f.width, mask, bits - kOutBits);
            else
                for (int x = 0; x < f.width; ++x) row[x] = table_[in[x] & mask];
        }
        if (!grey) {
            makeQuarterTable(d->comp[0].depth, limitedRange);
            const int w = AV_CEIL_RSHIFT(f.width, d->log2_chroma_w),
                      h = AV_CEIL_RSHIFT(f.height, d->log2_chroma_h);
            quarterPitch_ = w;
            for (int c = 1; c < kColourComponents; ++c) {
                std::vector<uint16_t>& plane = quarters_[c - 1];
                plane.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
                for (int y = 0; y < h; ++y) {
                    const uint16_t* in = read(c, y, w);
                    uint16_t* row = plane.data() + static_cast<ptrdiff_t>(y) * w;
                    for (int x = 0; x < w; ++x) row[x] = quarterTable_[in[x] & mask];
                }
            }
        }
        if (grey)
            for (int c = 1; c < kColourComponents; ++c)
                for (int y = 0; y < f.height; ++y)
                    std::fill_n(out_->data[c] + static_cast<ptrdiff_t>(y) * out_->linesize[c], f.width,
                                kNeutralChroma);
    }
    out = out_;
    return {};
}
