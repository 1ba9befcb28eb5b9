#include "output/frame_hash.h"

#include <charconv>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

namespace {

constexpr size_t kMd5Bytes = 16;
constexpr size_t kMd5HexDigits = 2 * kMd5Bytes;
constexpr char kSeparator = ',';
constexpr size_t kColourBytes = 3;  // of a 0x00RRGGBB word, little-endian: B, G, R; the fourth stays 0
constexpr size_t kBitsPerByte = 8;

bool isLowerHex(std::string_view s) {
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool parseCount(std::string_view text, int64_t& v) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && v >= 0;
}

}  // namespace

std::string formatHashLine(const HashLine& line) {
    return std::to_string(line.frame) + kSeparator + std::to_string(line.pts) + kSeparator + line.md5;
}

bool parseHashLine(std::string_view text, HashLine& line) {
    const size_t first = text.find(kSeparator);
    const size_t second = first == std::string_view::npos ? first : text.find(kSeparator, first + 1);
    if (second == std::string_view::npos) return false;
    const std::string_view md5 = text.substr(second + 1);
    if (!parseCount(text.substr(0, first), line.frame) ||
        !parseCount(text.substr(first + 1, second - first - 1), line.pts) || md5.size() != kMd5HexDigits ||
        !isLowerHex(md5))
        return false;
    line.md5 = md5;
    return true;
}

Md5::~Md5() { av_free(md5_); }

Status Md5::open() {
    md5_ = av_md5_alloc();
    if (md5_ == nullptr) return Status::fail("out of memory for an MD5");
    start();
    return {};
}

void Md5::start() { av_md5_init(md5_); }

void Md5::add(const uint8_t* bytes, size_t size) { av_md5_update(md5_, bytes, size); }

std::string Md5::hex() {
    uint8_t digest[kMd5Bytes];
    av_md5_final(md5_, digest);
    constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0xF];
    }
    return hex;
}

Status FrameHasher::open() {
    if (Status s = md5_.open(); !s.ok()) return Status::fail("out of memory for the MD5 of the frames");
    return {};
}

std::string FrameHasher::md5(const FrameBuffer& buffer) {
    // Only the colour is hashed: the top byte is whatever the display left
    // there (graticules keep their opacity), but no written file holds it, so
    // a line must equal the MD5 of the picture the file decodes to.
    const ConstFrame f = buffer.frame();
    const size_t rowWords = static_cast<size_t>(f.w);
    row_.resize(rowWords * sizeof(uint32_t));
    md5_.start();
    for (int32_t y = 0; y < f.h; ++y) {
        const uint32_t* row = f.canvasRow(y);
        for (size_t x = 0; x < rowWords; ++x)
            for (size_t b = 0; b < kColourBytes; ++b)
                row_[x * sizeof(uint32_t) + b] = static_cast<uint8_t>(row[x] >> (kBitsPerByte * b));
        md5_.add(row_.data(), row_.size());
    }
    return md5_.hex();
}
