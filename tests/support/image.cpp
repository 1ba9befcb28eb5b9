#include "support/image.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "pluginhost/test_card.h"

StoredFrame::StoredFrame(const Image& img, int32_t padPixels) : StoredFrame(img.w, img.h, padPixels) {
    Frame f = frame();
    for (int32_t y = 0; y < img.h; ++y)
        for (int32_t x = 0; x < img.w; ++x) f.canvasRow(y)[x] = img.at(x, y);
}

Image StoredFrame::image() const { return imageOf(frame()); }

Image imageOf(const ConstFrame& f) {
    Image img(f.w, f.h);
    for (int32_t y = 0; y < f.h; ++y)
        for (int32_t x = 0; x < f.w; ++x) img.at(x, y) = f.canvasRow(y)[x];
    return img;
}

uint64_t hashImage(const Image& img) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            h ^= (v >> (8 * i)) & 0xFF;
            h *= 1099511628211ull;
        }
    };
    mix(static_cast<uint32_t>(img.w));
    mix(static_cast<uint32_t>(img.h));
    for (uint32_t p : img.px) mix(p);
    return h;
}

namespace {

uint32_t crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
    put32(out, static_cast<uint32_t>(body.size()));
    std::vector<uint8_t> tagged(type, type + 4);
    tagged.insert(tagged.end(), body.begin(), body.end());
    out.insert(out.end(), tagged.begin(), tagged.end());
    put32(out, crc32(tagged.data(), tagged.size()));
}

}  // namespace

bool writePng(const std::string& path, const Image& img) {
    // Uncompressed deflate ("stored" blocks): no zlib needed on any platform.
    std::vector<uint8_t> raw;
    for (int32_t y = 0; y < img.h; ++y) {
        raw.push_back(0);  // filter: none
        for (int32_t x = 0; x < img.w; ++x) {
            const uint32_t p = img.at(x, y);
            raw.push_back(static_cast<uint8_t>(p >> 16));
            raw.push_back(static_cast<uint8_t>(p >> 8));
            raw.push_back(static_cast<uint8_t>(p));
        }
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    constexpr size_t kBlock = 65535;
    size_t pos = 0;
    do {
        const size_t n = std::min(kBlock, raw.size() - pos);
        z.push_back(pos + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(pos),
                 raw.begin() + static_cast<ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put32(ihdr, static_cast<uint32_t>(img.w));
    put32(ihdr, static_cast<uint32_t>(img.h));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
}

Image testCard(int32_t w, int32_t h) {
    StoredFrame f(w, h);
    fillTestCard(f.frame());
    return f.image();
}
