// Where the tiles of a monitor go: pure geometry, no frames. Tiles sit
// top-left aligned in their cells, on black; the output is the smallest
// frame that holds them all.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

enum class TileLayout { Row, Column, Grid };
inline constexpr std::string_view kLayoutNames[] = {"row", "column", "grid"};
inline constexpr int32_t kGridColumns = 2;  // the grid fills two columns, row by row

struct TileSize {
    int32_t w = 0;
    int32_t h = 0;
    bool operator==(const TileSize&) const = default;
};

struct TilePoint {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const TilePoint&) const = default;
};

struct TilePlan {
    std::vector<TilePoint> at;  // each tile's top-left corner, in the order given
    TileSize output;
};

// `sideMultiple`: the output's sides are rounded up to a multiple of it
// (2 for encoders that subsample colour).
TilePlan layOutTiles(std::span<const TileSize> tiles, TileLayout layout, int32_t sideMultiple);
