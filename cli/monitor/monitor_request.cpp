#include "monitor/monitor_request.h"

#include <charconv>
#include <cstdlib>

#include "core/settings_vocabulary.h"

namespace {

constexpr int32_t kMaxPictureSide = 16384;

bool tileNamed(std::string_view name, MonitorTile& tile) {
    for (std::string_view picture : kPictureNames)
        if (name == picture) {
            tile = {true, 0};
            return true;
        }
    if (name == kParadeName) {
        tile = {.parade = true};
        return true;
    }
    for (int mode = 0; mode < kDisplayModeCount; ++mode)
        if (name == kDisplayNames[mode]) {
            tile = {false, mode};
            return true;
        }
    return false;
}

bool parseSide(std::string_view text, int32_t& v) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && v != 0 &&
           v <= kMaxPictureSide && v >= -kMaxPictureSide;
}

// The missing side, given * num / den, rounded to the nearest, then to a multiple of `multiple`.
int32_t followingSide(int32_t given, int64_t num, int64_t den, int32_t multiple) {
    const int64_t over = den * multiple;
    return static_cast<int32_t>(std::max<int64_t>(1, (given * num + over / 2) / over) * multiple);
}

}  // namespace

std::string displayWords() {
    std::string words;
    for (std::string_view name : kDisplayNames) words += std::string(name) + ", ";
    return words + std::string(kPictureNames[0]) + " (or " + std::string(kPictureNames[1]) + "), " +
           std::string(kParadeName);
}

Status parseDisplayList(std::string_view value, MonitorRequest& request, bool& single, MonitorTile& tile) {
    std::vector<MonitorTile> tiles;
    for (size_t begin = 0; begin <= value.size();) {
        const size_t comma = std::min(value.find(',', begin), value.size());
        const std::string_view name = value.substr(begin, comma - begin);
        MonitorTile t;
        if (!tileNamed(name, t)) {
            const std::string words = displayWords();
            if (comma == value.size() && begin == 0)
                return Status::fail("--display: '" + std::string(value) + "' is not one of " + words +
                                    ", or a comma-separated list of them");
            return Status::fail(
                "--display: '" + std::string(value) + "' is not a comma-separated list of " + words +
                (name.empty() ? ": a name is missing" : ": '" + std::string(name) + "' is unknown"));
        }
        tiles.push_back(t);
        begin = comma + 1;
    }
    // A parade alone is still a monitor: of its panels.
    single = tiles.size() == 1 && !tiles.front().parade;
    if (single) {
        tile = tiles.front();
        request.tiles.clear();
        request.listed = false;
        return {};
    }
    request.tiles = std::move(tiles);
    request.listed = true;
    return {};
}

Status parseLayout(std::string_view value, MonitorRequest& request) {
    for (size_t i = 0; i < std::size(kLayoutNames); ++i)
        if (value == kLayoutNames[i]) {
            request.layout = static_cast<TileLayout>(i);
            return {};
        }
    return Status::fail("--layout: '" + std::string(value) + "' is not one of row, column, grid");
}

Status parsePictureSize(std::string_view value, MonitorRequest& request) {
    const size_t x = value.find('x');
    PictureSize size;
    if (x == std::string_view::npos || !parseSide(value.substr(0, x), size.w) ||
        !parseSide(value.substr(x + 1), size.h) || (size.w < 0 && size.h < 0))
        return Status::fail("--picture-size: '" + std::string(value) + "' is not a size WxH (sides up to " +
                            std::to_string(kMaxPictureSide) +
                            "; -1 for one side keeps the picture's aspect, as in 640x-1)");
    request.pictureSize = size;
    return {};
}

Status parseCrop(std::string_view value, MonitorRequest& request) {
    CropRequest crop;
    if (Status s = parseCropRequest(value, crop); !s.ok()) return s;
    request.crop = std::move(crop);
    return {};
}

TileSize scaledPictureSize(const PictureSize& asked, int32_t w, int32_t h, int32_t sarNum, int32_t sarDen) {
    // The display aspect is w * SAR / h; the tile's pixels are square.
    const int64_t wide = int64_t{w} * sarNum, high = int64_t{h} * sarDen;
    if (asked.w < 0) return {followingSide(asked.h, wide, high, -asked.w), asked.h};
    if (asked.h < 0) return {asked.w, followingSide(asked.w, high, wide, -asked.h)};
    return {asked.w, asked.h};
}
