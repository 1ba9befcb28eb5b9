#include "layout/tile_layout.h"

#include <algorithm>

namespace {

int32_t roundUp(int32_t v, int32_t multiple) { return (v + multiple - 1) / multiple * multiple; }

}  // namespace

TilePlan layOutTiles(std::span<const TileSize> tiles, TileLayout layout, int32_t sideMultiple) {
    TilePlan plan;
    plan.at.resize(tiles.size());
    // A row is one line of cells; a column is one cell per line; the grid
    // lines up its columns, each as wide as its widest tile.
    const size_t perLine = layout == TileLayout::Row      ? std::max<size_t>(1, tiles.size())
                           : layout == TileLayout::Column ? 1
                                                          : kGridColumns;
    std::vector<int32_t> columnX(perLine + 1, 0);
    for (size_t i = 0; i < tiles.size(); ++i) {
        const size_t c = i % perLine;
        columnX[c + 1] = std::max(columnX[c + 1], tiles[i].w);
    }
    for (size_t c = 0; c < perLine; ++c) columnX[c + 1] += columnX[c];
    int32_t lineY = 0;
    for (size_t first = 0; first < tiles.size(); first += perLine) {
        int32_t lineH = 0;
        for (size_t i = first; i < std::min(tiles.size(), first + perLine); ++i) {
            plan.at[i] = {columnX[i - first], lineY};
            lineH = std::max(lineH, tiles[i].h);
        }
        lineY += lineH;
    }
    const size_t usedColumns = std::min(perLine, tiles.size());
    plan.output = {roundUp(columnX[usedColumns], sideMultiple), roundUp(lineY, sideMultiple)};
    return plan;
}
