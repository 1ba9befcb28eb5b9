// What the recommendations fix for Y'CbCr video, stated once for the whole
// of kivrel: each matrix's luma weights, the factors that take Y'CbCr back to
// R'G'B' (derived from those weights, never written out), the studio code
// values and the IRE scale. The module keeps its own tables
// (src/params/luma.h), which these never replace.
#pragma once

#include <cstdint>

enum class YuvMatrix { Bt601, Bt709, Bt2020 };
inline constexpr int kYuvMatrixCount = 3;
inline constexpr const char* kYuvMatrixNames[kYuvMatrixCount] = {"BT.601", "BT.709", "BT.2020"};

// The weights of red and blue in Y' = Kr R' + Kg G' + Kb B', in
// ten-thousandths as the recommendations print them: exact for integer
// work, and the double made from them is the one nearest the decimal
// (a correctly rounded division of two exact values), as a literal would be.
inline constexpr int32_t kLumaWeightScale = 10000;
struct LumaWeights {
    int32_t red, blue;  // in 1/kLumaWeightScale
    constexpr int32_t green() const { return kLumaWeightScale - red - blue; }
    constexpr double kr() const { return static_cast<double>(red) / kLumaWeightScale; }
    constexpr double kb() const { return static_cast<double>(blue) / kLumaWeightScale; }
};
inline constexpr LumaWeights kLumaWeights[kYuvMatrixCount] = {
    {2990, 1140},  // Rec. ITU-R BT.601
    {2126, 722},   // Rec. ITU-R BT.709
    {2627, 593},   // Rec. ITU-R BT.2020, non-constant luminance
};
constexpr const LumaWeights& lumaWeightsOf(YuvMatrix m) { return kLumaWeights[static_cast<int>(m)]; }

// Y' and Pb, Pr (each in -0.5..0.5) back to R'G'B': R' = Y' + crToRed Pr,
// B' = Y' + cbToBlue Pb, G' = Y' + cbToGreen Pb + crToGreen Pr, solved
// from the weights (G' = (Y' - Kr R' - Kb B') / Kg).
constexpr double lumaGreen(double kr, double kb) { return 1.0 - kr - kb; }
constexpr double crToRed(double kr) { return 2 * (1 - kr); }
constexpr double cbToBlue(double kb) { return 2 * (1 - kb); }
constexpr double cbToGreen(double kr, double kb) { return -2 * (1 - kb) * kb / lumaGreen(kr, kb); }
constexpr double crToGreen(double kr, double kb) { return -2 * (1 - kr) * kr / lumaGreen(kr, kb); }

// Studio (limited-range) code values at 8 bits, alike in all three
// recommendations; a deeper depth's are these times 2^(bits - 8).
inline constexpr int32_t kLumaBlackCode = 16, kLumaWhiteCode = 235;
inline constexpr int32_t kChromaLowestCode = 16, kChromaHighestCode = 240;
inline constexpr int32_t kChromaZeroCode = 128;                                     // no colour
inline constexpr int32_t kLumaCodeSpan = kLumaWhiteCode - kLumaBlackCode;           // 219
inline constexpr int32_t kChromaCodeSpan = kChromaHighestCode - kChromaLowestCode;  // 224, Pb or Pr -0.5..0.5
// Full range at 8 bits: black at 0, white at 255.
inline constexpr int32_t kFullWhiteCode = 255;

// IRE units: 0 is black, 100 nominal white (the filter's hot-pixel ceiling
// is counted in them).
inline constexpr int32_t kWhiteIre = 100;
