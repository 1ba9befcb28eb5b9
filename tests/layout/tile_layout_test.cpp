// A monitor's geometry: where each tile goes and how large the output is,
// for every layout, odd tile sizes and both side multiples.
#include <gtest/gtest.h>

#include "layout/tile_layout.h"

namespace {

struct Case {
    TileLayout layout;
    int32_t multiple;
    std::vector<TilePoint> at;
    TileSize output;
};

}  // namespace

TEST(MonitorLayout, TilesSitTopLeftInTheSmallestOutput) {
    // Odd sizes throughout: a 9x7 picture, a 5x11 scope, a 3x3 and a 1x1.
    const std::vector<TileSize> tiles = {{9, 7}, {5, 11}, {3, 3}, {1, 1}};
    const Case cases[] = {
        {TileLayout::Row, 1, {{0, 0}, {9, 0}, {14, 0}, {17, 0}}, {18, 11}},
        {TileLayout::Row, 2, {{0, 0}, {9, 0}, {14, 0}, {17, 0}}, {18, 12}},
        {TileLayout::Column, 1, {{0, 0}, {0, 7}, {0, 18}, {0, 21}}, {9, 22}},
        {TileLayout::Column, 2, {{0, 0}, {0, 7}, {0, 18}, {0, 21}}, {10, 22}},
        // Two columns as wide as their widest tile, rows as tall as their tallest.
        {TileLayout::Grid, 1, {{0, 0}, {9, 0}, {0, 11}, {9, 11}}, {14, 14}},
        {TileLayout::Grid, 2, {{0, 0}, {9, 0}, {0, 11}, {9, 11}}, {14, 14}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(kLayoutNames[static_cast<int>(c.layout)]) + " x" +
                     std::to_string(c.multiple));
        const TilePlan plan = layOutTiles(tiles, c.layout, c.multiple);
        EXPECT_EQ(plan.at, c.at);
        EXPECT_EQ(plan.output, c.output);
    }
}

TEST(MonitorLayout, GridWithAnOddCountAndSingleTiles) {
    // Three tiles: the third starts a row of its own under the wider first column.
    const std::vector<TileSize> three = {{4, 3}, {7, 5}, {6, 2}};
    TilePlan plan = layOutTiles(three, TileLayout::Grid, 1);
    EXPECT_EQ(plan.at, (std::vector<TilePoint>{{0, 0}, {6, 0}, {0, 5}}));
    EXPECT_EQ(plan.output, (TileSize{13, 7}));
    for (TileLayout layout : {TileLayout::Row, TileLayout::Column, TileLayout::Grid}) {
        SCOPED_TRACE(kLayoutNames[static_cast<int>(layout)]);
        const std::vector<TileSize> one = {{1, 1}};
        plan = layOutTiles(one, layout, 1);
        EXPECT_EQ(plan.at, (std::vector<TilePoint>{{0, 0}}));
        EXPECT_EQ(plan.output, (TileSize{1, 1}));
        EXPECT_EQ(layOutTiles(one, layout, 2).output, (TileSize{2, 2}));
    }
}
