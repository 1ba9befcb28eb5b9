#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "draw/font.h"
#include "draw/raster.h"
#include "draw/text.h"
#include "support/image.h"

namespace {

using Glyph = std::array<uint8_t, kFontRows>;

std::string hex(int byte) { return {"0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 0xF]}; }

// The rows as the tables write them: "38 6C C6 FE C6 C6 C6 00".
std::string hexRows(int code) {
    std::string s;
    for (uint8_t b : fontTable[code]) s += " " + hex(b);
    return s.substr(1);
}

std::string describe(int code) {
    const std::string name =
        code > 0x20 && code < 0x7F ? std::string(" '") + static_cast<char>(code) + "'" : "";
    return "code 0x" + hex(code) + name + ": " + hexRows(code);
}

}  // namespace

TEST(Font, EveryGlyphKeepsTheCellConventions) {
    constexpr uint8_t kColumn7 = 0x01;  // bit 0 of a row byte is the rightmost pixel
    // Box drawing (0xB3-0xDA) continues into the next cell: single lines on
    // columns 3-4 or row 4, double lines on columns 2-3 and 5-6 or rows 2 and 4.
    constexpr uint8_t kSingleV = 0x18, kDoubleV = 0x36;
    constexpr int kSingleH = 1 << 4, kDoubleH = 1 << 2 | 1 << 4;
    const auto in = [](const char* set, int code) { return code != 0 && std::strchr(set, code) != nullptr; };
    std::map<Glyph, int> seen;
    for (int code = 0; code < kFontGlyphs; ++code) {
        SCOPED_TRACE(describe(code));
        const Glyph g = std::to_array(fontTable[code]);
        const bool blank = g == Glyph{};
        EXPECT_EQ(blank, code == 0x00 || code == 0x20 || code == 0xFF);
        const auto [first, fresh] = seen.emplace(g, code);
        EXPECT_TRUE(fresh || blank) << "repeats " << describe(first->second);
        const bool column7 = std::any_of(g.begin(), g.end(), [](uint8_t b) { return (b & kColumn7) != 0; });
        EXPECT_TRUE(!(code > 0x20 && code < 0x7F) || column7 == in("*_", code))
            << "column 7 is the gap in ASCII";
        EXPECT_TRUE(!in("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", code) ||
                    (g[0] != 0 && (g[7] != 0) == (code == 'Q')))
            << "capitals and digits start at row 0 and leave row 7 blank, but for the tail of Q";
        EXPECT_TRUE(!in("acegmnopqrsuvwxyz", code) || (g[0] == 0 && g[1] == 0 && g[2] != 0))
            << "x-height is row 2";
        EXPECT_TRUE(!(code >= 'a' && code <= 'z') || (g[7] != 0) == in("gjpqy", code))
            << "descenders use row 7";
        if (code < 0xB3 || code > 0xDA) continue;
        for (uint8_t edge : {g[0], g[7]}) EXPECT_TRUE(edge == 0 || edge == kSingleV || edge == kDoubleV);
        for (int column : {0x80, 0x01}) {
            int rows = 0;  // the rows the leftmost or rightmost column inks, one bit each
            for (int r = 0; r < kFontRows; ++r) rows |= (g[r] & column) ? 1 << r : 0;
            EXPECT_TRUE(rows == 0 || rows == kSingleH || rows == kDoubleH) << "edge rows " << rows;
        }
    }
}

TEST(Font, EveryPrintedCharacterByteForByte) {
    // Every character the displays print, and the named examples beyond ASCII.
    const std::map<int, std::string> expected = {
        {' ', "00 00 00 00 00 00 00 00"},  {'-', "00 00 00 7E 00 00 00 00"},
        {'.', "00 00 00 00 00 18 18 00"},  {':', "00 18 18 00 00 18 18 00"},
        {'0', "38 6C C6 D6 C6 6C 38 00"},  // the dotted zero
        {'1', "18 38 18 18 18 18 7E 00"},  {'2', "7C C6 06 1C 30 66 FE 00"},
        {'3', "7C C6 06 3C 06 C6 7C 00"},  {'4', "1C 3C 6C CC FE 0C 1E 00"},
        {'5', "FE C0 C0 FC 06 C6 7C 00"},  {'6', "38 60 C0 FC C6 C6 7C 00"},
        {'7', "FE C6 0C 18 30 30 30 00"},  {'8', "7C C6 C6 7C C6 C6 7C 00"},
        {'9', "7C C6 C6 7E 06 0C 78 00"},  {'A', "38 6C C6 FE C6 C6 C6 00"},
        {'B', "FC 66 66 7C 66 66 FC 00"},  {'C', "3C 66 C0 C0 C0 66 3C 00"},
        {'D', "F8 6C 66 66 66 6C F8 00"},  {'G', "3C 66 C0 C0 CE 66 3A 00"},
        {'M', "C6 EE FE FE D6 C6 C6 00"},  {'R', "FC 66 66 7C 6C 66 E6 00"},
        {'S', "3C 66 30 18 0C 66 3C 00"},  {'V', "C6 C6 C6 C6 C6 6C 38 00"},
        {'Y', "66 66 66 3C 18 18 3C 00"},  {'a', "00 00 78 0C 7C CC 76 00"},
        {'c', "00 00 7C C6 C0 C6 7C 00"},  {'e', "00 00 7C C6 FE C0 7C 00"},
        {'i', "18 00 38 18 18 18 3C 00"},  {'l', "38 18 18 18 18 18 3C 00"},
        {'n', "00 00 DC 66 66 66 66 00"},  {'x', "00 00 C6 6C 38 6C C6 00"},
        {0xB3, "18 18 18 18 18 18 18 18"},  // single vertical line
        {0xC4, "00 00 00 00 FF 00 00 00"},  // single horizontal line
        {0xDB, "FF FF FF FF FF FF FF FF"},  // full block
        {0xF8, "38 6C 6C 38 00 00 00 00"},  // degree sign
    };
    for (const auto& [code, rows] : expected) EXPECT_EQ(hexRows(code), rows) << describe(code);
}

TEST(Font, GoldenSheet) {
    // The whole font through drawGlyph, 16 x 16 glyphs on a grid; the PNG is
    // scaled up so a person can check it.
    constexpr int32_t kCell = 10, kScale = 3, kSide = 16 * kCell;
    StoredFrame f(kSide, kSide, 2);
    const Frame fr = f.frame();
    for (int32_t i = 0; i <= 16; ++i) {
        fillRect(fr, i * kCell - 1, 0, 1, -1, 0xFF303030);
        fillRect(fr, 0, i * kCell - 1, -1, 1, 0xFF303030);
    }
    for (int code = 0; code < kFontGlyphs; ++code) {  // y + 1: plots land one row above their y
        const auto c = static_cast<unsigned char>(code);
        drawGlyph(fr, code % 16 * kCell + 1, code / 16 * kCell + 1 + 1, c, kGraticuleColour);
    }
    EXPECT_TRUE(f.paddingIntact());
    const Image sheet = f.image();
    if (std::getenv("KIVREL_UPDATE_GOLDEN")) {
        Image big(sheet.w * kScale, sheet.h * kScale);
        for (int32_t i = 0; i < big.w * big.h; ++i)
            big.px[i] = sheet.at(i % big.w / kScale, i / big.w / kScale);
        writePng(KIVREL_GOLDEN_DIR "/font.png", big);
    }
    EXPECT_EQ(hashImage(sheet), 0x9add0d34a79421b3ull) << std::hex << hashImage(sheet);
}
