// What the command line asks of a monitor: several displays of the same
// frame tiled into one output (-d video,waveform), their layout, the
// picture tile's size, a region of interest for the scopes and captions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "layout/tile_layout.h"
#include "monitor/crop_expr.h"
#include "pluginhost/status.h"

// One tile: a display mode of the filter, or the untouched picture; or a
// parade, which becomes one tile per switched-on channel.
struct MonitorTile {
    bool picture = false;  // passthru: the frame as it comes
    int mode = 0;          // a DisplayMode, when not the picture
    bool parade = false;   // single-channel waveforms, every level on its own row
    bool operator==(const MonitorTile&) const = default;
};

// The words that name the untouched picture in a list.
inline constexpr std::string_view kPictureNames[] = {"picture", "passthru"};
// With three or four channels the filter halves its waveform panels and
// draws only even levels; the parade gives each channel a panel of its own.
inline constexpr std::string_view kParadeName = "parade";

// Every name -d takes (kDisplayNames, kPictureNames, kParadeName), as
// messages list them.
std::string displayWords();

// --picture-size: a side of -N follows the picture's display aspect (its
// sample aspect ratio applied) from the other, rounded to the nearest whole
// pixel, then to a multiple of N, as FFmpeg's scale does.
struct PictureSize {
    int32_t w = 0, h = 0;
};

struct MonitorRequest {
    std::vector<MonitorTile> tiles;  // from a -d list; empty: the settings' display
    bool listed = false;             // -d gave more than one name, or a parade
    std::optional<TileLayout> layout;
    std::optional<PictureSize> pictureSize;
    std::optional<CropRequest> crop;
    bool labels = false;
    // A monitor renders the run: several displays, or any of its options.
    bool wanted() const { return listed || layout || pictureSize || crop || labels; }
};

// -d's value: "waveform" sets the mode (true in `single`, with `mode`
// or the picture); "video,waveform" is a monitor list.
Status parseDisplayList(std::string_view value, MonitorRequest& request, bool& single, MonitorTile& tile);
Status parseLayout(std::string_view value, MonitorRequest& request);
Status parsePictureSize(std::string_view value, MonitorRequest& request);
Status parseCrop(std::string_view value, MonitorRequest& request);

// The picture tile's size, in square pixels, for a w x h frame whose
// pixels are sarNum:sarDen (width to height).
TileSize scaledPictureSize(const PictureSize& asked, int32_t w, int32_t h, int32_t sarNum, int32_t sarDen);
