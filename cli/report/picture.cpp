#include "report/picture.h"

#include <algorithm>
#include <array>
#include <vector>

#include "os/av_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace {

constexpr uint32_t kHotMark = 0xFF00FF;   // magenta: no picture's own colour survives dimming as it
constexpr uint32_t kDimShift = 1;         // the rest of the picture at half its level
constexpr int kFastestDeflate = 1;        // zlib's levels run 1 (fastest) to 9 (smallest)
constexpr uint32_t kOpaque = 0xFF000000;  // a palette entry's alpha

// A picture of few colours (a display's graticule and traces) as palette
// indices: a third of the bytes to compress. False for more than a
// palette holds.
constexpr int kPaletteSize = 256;
bool paletteOf(const std::vector<uint32_t>& topDown, std::vector<uint8_t>& indices,
               std::array<uint32_t, kPaletteSize>& palette, int& colours) {
    // Open addressing, four slots a colour at most: keys are colour + 1, 0 is free.
    constexpr uint32_t kSlotBits = 10, kSlots = 1u << kSlotBits;
    constexpr uint32_t kGolden = 0x9E3779B1u;  // Fibonacci hashing
    std::array<uint32_t, kSlots> keys{};
    std::array<uint8_t, kSlots> slotIndex{};
    indices.resize(topDown.size());
    colours = 0;
    uint32_t last = ~0u;
    uint8_t lastIndex = 0;
    for (size_t i = 0; i < topDown.size(); ++i) {
        const uint32_t colour = topDown[i] & 0xFFFFFF;
        if (colour != last) {
            uint32_t slot = (colour * kGolden) >> (32 - kSlotBits);
            while (keys[slot] != 0 && keys[slot] != colour + 1) slot = (slot + 1) & (kSlots - 1);
            if (keys[slot] == 0) {
                if (colours == kPaletteSize) return false;
                keys[slot] = colour + 1;
                slotIndex[slot] = static_cast<uint8_t>(colours);
                palette[static_cast<size_t>(colours++)] = kOpaque | colour;
            }
            last = colour;
            lastIndex = slotIndex[slot];
        }
        indices[i] = lastIndex;
    }
    return true;
}

Status encodeRgb(const std::vector<uint32_t>& topDown, int32_t w, int32_t h, std::string& png) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) return Status::fail("this FFmpeg has no PNG encoder for the report's pictures");
    std::vector<uint8_t> indices;
    std::array<uint32_t, kPaletteSize> palette{};
    int colours = 0;
    const bool paletted = paletteOf(topDown, indices, palette, colours);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    auto release = [&] {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    };
    if (ctx == nullptr || frame == nullptr || packet == nullptr) {
        release();
        return Status::fail("out of memory for the report's pictures");
    }
    const AVPixelFormat format = paletted ? AV_PIX_FMT_PAL8 : AV_PIX_FMT_RGB24;
    ctx->width = w;
    ctx->height = h;
    ctx->pix_fmt = format;
    ctx->time_base = {1, 1};
    // The fastest deflate: a busy waveform at the default level costs as
    // much as measuring a hundred frames, for about a tenth less size.
    ctx->compression_level = kFastestDeflate;
    int r = avcodec_open2(ctx, codec, nullptr);
    frame->format = format;
    frame->width = w;
    frame->height = h;
    if (r >= 0) r = av_frame_get_buffer(frame, 0);
    if (r >= 0) {
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
            const size_t at = static_cast<size_t>(y) * static_cast<size_t>(w);
            if (paletted) {
                std::copy_n(indices.begin() + static_cast<ptrdiff_t>(at), w, row);
                continue;
            }
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t px = topDown[at + static_cast<size_t>(x)];
                row[3 * x] = static_cast<uint8_t>(px >> 16);
                row[3 * x + 1] = static_cast<uint8_t>(px >> 8);
                row[3 * x + 2] = static_cast<uint8_t>(px);
            }
        }
        if (paletted) std::copy_n(palette.begin(), colours, reinterpret_cast<uint32_t*>(frame->data[1]));
        r = avcodec_send_frame(ctx, frame);
    }
    if (r >= 0) r = avcodec_send_frame(ctx, nullptr);
    png.clear();
    while (r >= 0) {
        r = avcodec_receive_packet(ctx, packet);
        if (r < 0) break;
        png.append(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size));
        av_packet_unref(packet);
    }
    release();
    if (r != AVERROR_EOF || png.empty())
        return Status::fail("encoding a picture for the report failed (" + avErrorText(r) + ")");
    return {};
}

}  // namespace

Status encodePng(const ConstFrame& frame, std::string& png) {
    std::vector<uint32_t> words(static_cast<size_t>(frame.w) * static_cast<size_t>(frame.h));
    for (int32_t y = 0; y < frame.h; ++y)
        std::copy_n(frame.canvasRow(y), frame.w, words.begin() + static_cast<ptrdiff_t>(y) * frame.w);
    return encodeRgb(words, frame.w, frame.h, png);
}

Status thumbnailPng(const ConstFrame& picture, const ConstFrame& scanned, std::string& png) {
    const int32_t w = std::min(picture.w, kThumbnailWidth);
    const int32_t h =
        std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(picture.h) * w / picture.w));
    std::vector<uint32_t> words(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int32_t ty = 0; ty < h; ++ty) {
        // The source rows and columns each thumbnail pixel covers.
        const int32_t y0 = static_cast<int32_t>(static_cast<int64_t>(ty) * picture.h / h);
        const int32_t y1 =
            std::max(y0 + 1, static_cast<int32_t>(static_cast<int64_t>(ty + 1) * picture.h / h));
        for (int32_t tx = 0; tx < w; ++tx) {
            const int32_t x0 = static_cast<int32_t>(static_cast<int64_t>(tx) * picture.w / w);
            const int32_t x1 =
                std::max(x0 + 1, static_cast<int32_t>(static_cast<int64_t>(tx + 1) * picture.w / w));
            bool hot = false;
            for (int32_t y = y0; y < y1 && !hot; ++y) {
                const uint32_t* a = picture.canvasRow(y);
                const uint32_t* b = scanned.canvasRow(y);
                for (int32_t x = x0; x < x1; ++x)
                    if ((a[x] ^ b[x]) & 0xFFFFFF) {
                        hot = true;
                        break;
                    }
            }
            const uint32_t px = picture.canvasRow(y0)[x0];
            words[static_cast<size_t>(ty) * static_cast<size_t>(w) + static_cast<size_t>(tx)] =
                hot ? kHotMark : (px >> kDimShift) & 0x7F7F7F;
        }
    }
    return encodeRgb(words, w, h, png);
}

std::string base64(const std::string& bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                           static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}
