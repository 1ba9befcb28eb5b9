#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "draw/font.h"
#include "draw/raster.h"
#include "draw/text.h"
#include "support/image.h"

namespace {

using Glyph = std::array<uint8_t, kFontRows>;

Glyph glyph(int code) {
    Glyph g{};
    for (int r = 0; r < kFontRows; ++r) g[r] = fontTable[code][r];
    return g;
}

std::string hexRows(const Glyph& g) {
    std::ostringstream s;
    s << std::hex << std::uppercase;
    for (uint8_t b : g) s << (b < 0x10 ? "0" : "") << int{b} << " ";
    return s.str();
}

std::string codeName(int code) {
    std::ostringstream s;
    s << "code 0x" << std::hex << std::uppercase << code;
    if (code > 0x20 && code < 0x7F) s << " '" << static_cast<char>(code) << "'";
    return s.str();
}

constexpr uint8_t kColumn7 = 0x01;  // bit 0 of a row byte is the rightmost pixel

bool usesColumn7(const Glyph& g) {
    for (uint8_t b : g)
        if (b & kColumn7) return true;
    return false;
}

}  // namespace

TEST(Font, ExactlyThreeBlankGlyphs) {
    for (int code = 0; code < kFontGlyphs; ++code) {
        const bool blank = glyph(code) == Glyph{};
        EXPECT_EQ(blank, code == 0x00 || code == 0x20 || code == 0xFF) << codeName(code);
    }
}

TEST(Font, EveryPrintedCharacterByteForByte) {
    // Every character the displays print, and the named examples beyond ASCII.
    const std::map<int, Glyph> expected = {
        {0x20, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x2D, {0x00, 0x00, 0x00, 0x7E, 0x00, 0x00, 0x00, 0x00}},
        {0x2E, {0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x18, 0x00}},
        {0x3A, {0x00, 0x18, 0x18, 0x00, 0x00, 0x18, 0x18, 0x00}},
        {0x30, {0x38, 0x6C, 0xC6, 0xD6, 0xC6, 0x6C, 0x38, 0x00}},  // the dotted zero
        {0x31, {0x18, 0x38, 0x18, 0x18, 0x18, 0x18, 0x7E, 0x00}},
        {0x32, {0x7C, 0xC6, 0x06, 0x1C, 0x30, 0x66, 0xFE, 0x00}},
        {0x33, {0x7C, 0xC6, 0x06, 0x3C, 0x06, 0xC6, 0x7C, 0x00}},
        {0x34, {0x1C, 0x3C, 0x6C, 0xCC, 0xFE, 0x0C, 0x1E, 0x00}},
        {0x35, {0xFE, 0xC0, 0xC0, 0xFC, 0x06, 0xC6, 0x7C, 0x00}},
        {0x36, {0x38, 0x60, 0xC0, 0xFC, 0xC6, 0xC6, 0x7C, 0x00}},
        {0x37, {0xFE, 0xC6, 0x0C, 0x18, 0x30, 0x30, 0x30, 0x00}},
        {0x38, {0x7C, 0xC6, 0xC6, 0x7C, 0xC6, 0xC6, 0x7C, 0x00}},
        {0x39, {0x7C, 0xC6, 0xC6, 0x7E, 0x06, 0x0C, 0x78, 0x00}},
        {0x41, {0x38, 0x6C, 0xC6, 0xFE, 0xC6, 0xC6, 0xC6, 0x00}},
        {0x42, {0xFC, 0x66, 0x66, 0x7C, 0x66, 0x66, 0xFC, 0x00}},
        {0x43, {0x3C, 0x66, 0xC0, 0xC0, 0xC0, 0x66, 0x3C, 0x00}},
        {0x44, {0xF8, 0x6C, 0x66, 0x66, 0x66, 0x6C, 0xF8, 0x00}},
        {0x47, {0x3C, 0x66, 0xC0, 0xC0, 0xCE, 0x66, 0x3A, 0x00}},
        {0x4D, {0xC6, 0xEE, 0xFE, 0xFE, 0xD6, 0xC6, 0xC6, 0x00}},
        {0x52, {0xFC, 0x66, 0x66, 0x7C, 0x6C, 0x66, 0xE6, 0x00}},
        {0x53, {0x3C, 0x66, 0x30, 0x18, 0x0C, 0x66, 0x3C, 0x00}},
        {0x56, {0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0x6C, 0x38, 0x00}},
        {0x59, {0x66, 0x66, 0x66, 0x3C, 0x18, 0x18, 0x3C, 0x00}},
        {0x61, {0x00, 0x00, 0x78, 0x0C, 0x7C, 0xCC, 0x76, 0x00}},
        {0x63, {0x00, 0x00, 0x7C, 0xC6, 0xC0, 0xC6, 0x7C, 0x00}},
        {0x65, {0x00, 0x00, 0x7C, 0xC6, 0xFE, 0xC0, 0x7C, 0x00}},
        {0x69, {0x18, 0x00, 0x38, 0x18, 0x18, 0x18, 0x3C, 0x00}},
        {0x6C, {0x38, 0x18, 0x18, 0x18, 0x18, 0x18, 0x3C, 0x00}},
        {0x6E, {0x00, 0x00, 0xDC, 0x66, 0x66, 0x66, 0x66, 0x00}},
        {0x78, {0x00, 0x00, 0xC6, 0x6C, 0x38, 0x6C, 0xC6, 0x00}},
        {0xB3, {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18}},  // single vertical line
        {0xC4, {0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00}},  // single horizontal line
        {0xDB, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},  // full block
        {0xF8, {0x38, 0x6C, 0x6C, 0x38, 0x00, 0x00, 0x00, 0x00}},  // degree sign
    };
    for (const auto& [code, rows] : expected)
        EXPECT_EQ(hexRows(glyph(code)), hexRows(rows)) << codeName(code);
}

TEST(Font, CellConventions) {
    for (int code = 0x21; code < 0x7F; ++code) {
        const bool allowed = code == '*' || code == '_';
        EXPECT_EQ(usesColumn7(glyph(code)), allowed) << codeName(code) << ": column 7 is the gap";
    }
    // Capitals and digits stand on row 6: row 0 is their top, row 7 is blank
    // but for the tail of Q.
    for (const char* set : {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "0123456789"}) {
        for (const char* p = set; *p; ++p) {
            const Glyph g = glyph(static_cast<unsigned char>(*p));
            EXPECT_NE(g[0], 0) << codeName(*p) << " starts at row 0";
            EXPECT_EQ(g[7] != 0, *p == 'Q') << codeName(*p) << " row 7";
        }
    }
    // Lower case: x-height letters start at row 2; only descenders use row 7.
    const std::string xHeight = "acegmnopqrsuvwxyz", descenders = "gjpqy";
    for (char c = 'a'; c <= 'z'; ++c) {
        const Glyph g = glyph(static_cast<unsigned char>(c));
        if (xHeight.find(c) != std::string::npos) {
            EXPECT_EQ(g[0] | g[1], 0) << codeName(c) << " has nothing above row 2";
            EXPECT_NE(g[2], 0) << codeName(c) << " starts at row 2";
        }
        EXPECT_EQ(g[7] != 0, descenders.find(c) != std::string::npos) << codeName(c) << " row 7";
    }
}

TEST(Font, NoTwoCharactersShareAGlyph) {
    std::map<Glyph, int> seen;
    for (int code = 0; code < kFontGlyphs; ++code) {
        if (code == 0x00 || code == 0x20 || code == 0xFF) continue;
        const auto [it, fresh] = seen.emplace(glyph(code), code);
        EXPECT_TRUE(fresh) << codeName(code) << " repeats " << codeName(it->second) << ": "
                           << hexRows(glyph(code));
    }
}

TEST(Font, BoxDrawingStrokesMeetAtTheCellEdges) {
    // 0xB3-0xDA draw lines that continue into the next cell: a single line is
    // columns 3-4 or row 4, a double line columns 2-3 and 5-6 or rows 2 and 4.
    constexpr int kFirstBox = 0xB3, kLastBox = 0xDA;
    constexpr uint8_t kSingleV = 0x18, kDoubleV = 0x36;
    const auto edgeColumn = [](const Glyph& g, uint8_t bit) {
        int rows = 0;
        for (int r = 0; r < kFontRows; ++r) rows |= (g[r] & bit) ? 1 << r : 0;
        return rows;
    };
    constexpr int kSingleH = 1 << 4, kDoubleH = 1 << 2 | 1 << 4;
    for (int code = kFirstBox; code <= kLastBox; ++code) {
        const Glyph g = glyph(code);
        SCOPED_TRACE(codeName(code) + ": " + hexRows(g));
        for (uint8_t edge : {g[0], g[7]}) EXPECT_TRUE(edge == 0 || edge == kSingleV || edge == kDoubleV);
        for (uint8_t bit : {uint8_t{0x80}, uint8_t{0x01}}) {
            const int rows = edgeColumn(g, bit);
            EXPECT_TRUE(rows == 0 || rows == kSingleH || rows == kDoubleH) << "edge rows " << rows;
        }
    }
}

TEST(Font, GoldenSheet) {
    // The whole font through drawGlyph, 16 x 16 glyphs on a grid, each glyph
    // scaled up so a person can check it.
    constexpr int32_t kCell = 10, kScale = 3;
    constexpr int32_t kSide = 16 * kCell;
    StoredFrame f(kSide, kSide, 2);
    const Frame fr = f.frame();
    for (int32_t i = 0; i <= 16; ++i) {
        fillRect(fr, i * kCell - 1, 0, 1, -1, 0xFF303030);
        fillRect(fr, 0, i * kCell - 1, -1, 1, 0xFF303030);
    }
    for (int code = 0; code < kFontGlyphs; ++code) {
        // y + 1: plots land one row above their y.
        drawGlyph(fr, (code % 16) * kCell + 1, (code / 16) * kCell + 1 + 1,
                  static_cast<unsigned char>(code), kGraticuleColour);
    }
    EXPECT_TRUE(f.paddingIntact());
    const Image sheet = f.image();
    Image big(sheet.w * kScale, sheet.h * kScale);
    for (int32_t y = 0; y < big.h; ++y)
        for (int32_t x = 0; x < big.w; ++x) big.at(x, y) = sheet.at(x / kScale, y / kScale);
    if (std::getenv("KIVREL_UPDATE_GOLDEN")) writePng(KIVREL_GOLDEN_DIR "/font.png", big);
    EXPECT_EQ(hashImage(sheet), 0x9add0d34a79421b3ull) << std::hex << hashImage(sheet);
}
