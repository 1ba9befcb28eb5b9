// Several displays of the same frame in one output: each tile runs its own
// instance of the filter (same settings, its own display, its own
// accumulators), the scopes on the region of interest, the picture-shaped
// displays on the whole frame with the region outlined; then the tiles are
// copied into place, captions above them.
//
// A parade is one tile per switched-on channel, each a waveform of that
// channel alone.
//
// For a run it is the render step (filter/frame_renderer.h), in one
// lane: the tiles' instances keep their own state from frame to frame.
// Within a frame the tiles render at once, each instance on one thread.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/frame_converter.h"
#include "draw/text.h"
#include "filter/display_state.h"
#include "filter/frame_renderer.h"
#include "input/input.h"
#include "layout/tile_layout.h"
#include "monitor/crop_expr.h"
#include "monitor/monitor_request.h"
#include "monitor/picture_scaler.h"
#include "os/slice_workers.h"
#include "pluginhost/module_host.h"

inline constexpr const char* kMonitorName = "monitor";  // in a default output name
inline constexpr uint32_t kOutlineColour =
    0x00FF00FF;                               // magenta: rare in pictures, unlike the amber graticule
inline constexpr int32_t kCaptionMargin = 2;  // pixels above and below the caption's text
inline constexpr int32_t kCaptionHeight = kGlyphSize + 2 * kCaptionMargin;  // a line of the font

// How each tile's instance is set up as the run's own is: `configure` before
// the tile's display is set, `followSource` after it, for an input file
// (empty for the test card); rows padded by `padPitch`.
struct TileSetUp {
    std::function<Status(FilterInstance&)> configure;
    std::function<Status(FilterInstance&, const SourceLevels&)> followSource;
    int32_t padPitch = 0;
};

class Monitor final : public FrameRenderer {
public:
    Monitor() = default;
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Sets up the tiles `request` asks for, for `reader`'s frames: one
    // instance each, set up by `setUp` with the tile's display (`settings`: the display the
    // settings choose, for a monitor without a -d list), the region checked
    // against the frame, every instance prepared and the tiles laid out.
    // Tells `converter` which RGB levels the reading hands over. `threads`:
    // how many tiles may render at once (each instance on one thread at a time).
    Status open(const FilterModuleHost& module, const MonitorRequest& request, const TileSetUp& setUp,
                const Display& settings, const Reader& reader, FrameConverter& converter, int threads);
    // Whether tiles want the picture in two kinds of levels: the second copy
    // is converted again from the picture the reader holds, so the reading
    // must not run ahead of the rendering.
    bool readsEachFrameTwice() const { return second_ != nullptr; }

    // The frame as read: its geometry is the one the reading fills.
    const FrameBuffer& source() const { return full_[0]; }
    Status start();
    Status end();
    const FrameBuffer& output() const { return output_; }
    // Where the picture-shaped tiles sit in the output, each showing the
    // whole frame (scaled when --picture-size asks): for a pointer on them.
    struct PictureArea {
        TilePoint at;
        TileSize size;
    };
    std::vector<PictureArea> pictureAreas() const;
    // The output's size were the picture-shaped tiles `size` instead (none:
    // their own size), everything else as it is: for a viewer choosing a
    // picture size that fits its screen without setting a monitor up again.
    TileSize outputWith(const std::optional<PictureSize>& size) const;
    // The largest picture size, of the frame's display aspect with even
    // sides, whose output fits `room`; none when a picture `narrowest`
    // pixels wide still does not (the other tiles alone are too large) or
    // no tile shows the picture.
    std::optional<PictureSize> pictureSizeFitting(TileSize room, int32_t narrowest) const;
    // For a default output name: "parade" for a parade alone, else "monitor".
    const std::string& name() const { return name_; }
    // Each tile's settings, a line each, named by its display: "waveform: LABEL CONFIG-LINE".
    std::string settingsText();

    int lanes() const override { return 1; }
    void take(int lane, FrameBuffer& source) override;
    Status render(int lane, int64_t number, const FrameBuffer*& output) override;

private:
    struct Tile {
        MonitorTile what;
        std::unique_ptr<FilterInstance> inst;
        bool wholeFrame = false;            // a picture-shaped display: the whole frame, scaled, outlined
        RgbLevels rgb = RgbLevels::Full;    // what the display measures against
        size_t levels = 0;                  // which of full_ holds it
        TileSize natural;                   // the instance's output
        TileSize size;                      // as shown
        TilePoint at;                       // the tile's top-left corner in the output
        std::vector<std::string> wordings;  // the caption's, longest first
        std::string caption;
        std::unique_ptr<PictureScaler> scaler;
        Status rendered;  // this frame's
    };
    // `channel`: a parade's panel, with only that channel switched on; -1: none.
    Status addTile(const FilterModuleHost& module, const TileSetUp& setUp, const SourceInfo& info,
                   const MonitorTile& what, int channel);
    Status addParade(const FilterModuleHost& module, const TileSetUp& setUp, const SourceInfo& info,
                     const Display& settings);
    void feed(Tile& tile);
    void compose();
    TileSize shownSize(const Tile& t, const std::optional<PictureSize>& size) const;
    TilePlan plan(const std::optional<PictureSize>& size) const;

    std::vector<Tile> tiles_;
    std::array<FrameBuffer, 2> full_;  // the frame in the levels the tiles want, at most two
    // Converts the reader's picture into full_[1] in secondLevels_; null: one kind.
    const Reader* reader_ = nullptr;
    FrameConverter* second_ = nullptr;
    RgbLevels secondLevels_ = RgbLevels::Full;
    CropRegion region_;
    bool cropped_ = false, labels_ = false;
    std::optional<PictureSize> pictureSize_;  // of the picture-shaped tiles
    Rational sampleAspect_{1, 1};             // the frame's, which a picture size's -N side follows
    TileLayout layout_ = TileLayout::Row;
    FrameBuffer output_;
    std::string name_ = kMonitorName;
    // A parade of a wide picture is four waveforms' work per frame; the
    // tiles share it out.
    std::unique_ptr<SliceWorkers> workers_;
};
