// A turned picture and the stored windows a measure reads must agree: the
// shown pixels of any rectangle come from exactly the stored rectangle
// storedWindow() names. Each stored word holds its own position, so the
// turned picture says where every shown pixel came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "input/rotation.h"

TEST(Rotation, ShownRectanglesComeFromTheirStoredWindow) {
    constexpr int32_t kW = 7, kH = 4;  // odd and unequal, so a swapped side shows
    std::vector<uint32_t> stored(static_cast<size_t>(kW) * kH);
    for (size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<uint32_t>(i);
    for (const int degrees : {0, kQuarterTurn, kHalfTurn, kThreeQuarterTurn}) {
        const Turn turn{degrees, kW, kH};
        FrameBuffer shown(turn.shownW(), turn.shownH(), turn.shownW() * kBytesPerPixel);
        turnPicture(turn, stored.data(), shown);
        const uint8_t* top = shown.topRowBytes();
        const auto at = [&](int32_t x, int32_t y) {
            return reinterpret_cast<const uint32_t*>(top +
                                                     static_cast<ptrdiff_t>(y) * shown.topDownStride())[x];
        };
        // Every word once: a turn loses or repeats nothing.
        std::vector<uint32_t> seen;
        for (int32_t y = 0; y < shown.h(); ++y)
            for (int32_t x = 0; x < shown.w(); ++x) seen.push_back(at(x, y));
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, stored) << degrees;
        for (int32_t y = 0; y < shown.h(); ++y)
            for (int32_t x = 0; x < shown.w(); ++x)
                for (int32_t h = 1; y + h <= shown.h(); ++h)
                    for (int32_t w = 1; x + w <= shown.w(); ++w) {
                        PlaneWindow from{kH, -1, kW, -1};  // the stored bounds of what shows
                        for (int32_t j = y; j < y + h; ++j)
                            for (int32_t i = x; i < x + w; ++i) {
                                const int32_t sx = static_cast<int32_t>(at(i, j) % kW);
                                const int32_t sy = static_cast<int32_t>(at(i, j) / kW);
                                from = {std::min(from.first, sy), std::max(from.last, sy + 1),
                                        std::min(from.left, sx), std::max(from.right, sx + 1)};
                            }
                        const PlaneWindow said = storedWindow(turn, x, y, w, h);
                        ASSERT_TRUE(said.first == from.first && said.last == from.last &&
                                    said.left == from.left && said.right == from.right)
                            << degrees << " degrees, shown " << w << "x" << h << " at " << x << "," << y
                            << ": rows " << said.first << "-" << said.last << " columns " << said.left << "-"
                            << said.right << ", the pixels came from rows " << from.first << "-" << from.last
                            << " columns " << from.left << "-" << from.right;
                    }
    }
}
