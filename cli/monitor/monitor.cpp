#include "monitor/monitor.h"

#include <algorithm>

#include "core/settings_vocabulary.h"
#include "draw/raster.h"
#include "draw/text.h"
#include "os/signals.h"
#include "pluginhost/script_call.h"

namespace {

// An encoder that subsamples colour needs even sides; a border of one black
// pixel costs the others nothing.
constexpr int32_t kOutputSideMultiple = 2;

// The rectangle (x, y, w, h) of `f` in canvas coordinates, as a frame of its own.
Frame area(const Frame& f, int32_t x, int32_t y, int32_t w, int32_t h) {
    return {f.canvasRow(y + h - 1) + x, w, h, f.pitch, f.pitch - kBytesPerPixel * static_cast<ptrdiff_t>(w)};
}

void copyPixels(const ConstFrame& src, int32_t x, int32_t y, const Frame& dst) {
    for (int32_t r = 0; r < dst.h; ++r) std::copy_n(src.canvasRow(y + r) + x, dst.w, dst.canvasRow(r));
}

std::string tileName(const MonitorTile& t) {
    return t.picture ? std::string(kPictureNames[0]) : std::string(kDisplayNames[t.mode]);
}

// The settings the filter's label shows between < and > ("Luma Red"), or "".
std::string labelSettings(const std::string& label) {
    const size_t open = label.find('<'), close = label.rfind('>');
    if (open == std::string::npos || close == std::string::npos || close < open) return {};
    const std::string settings = label.substr(open + 1, close - open - 1);
    const size_t first = settings.find_first_not_of(' '), last = settings.find_last_not_of(' ');
    if (first == std::string::npos) return {};
    return settings.substr(first, last - first + 1);
}

// The caption's wordings, longest first: the display's name and the
// settings of the filter's own label ("waveform: Luma Red"). A parade's
// panel may be as narrow as the scale beside one column, so it has shorter
// ones, still the label's: "parade: Green", "Green", "G".
std::vector<std::string> captionsOf(const MonitorTile& t, int channel, const std::string& label) {
    const std::string name = channel >= 0 ? std::string(kParadeName) : tileName(t);
    const std::string settings = labelSettings(label);
    if (settings.empty()) return {name};
    std::vector<std::string> texts = {name + ": " + settings};
    if (channel >= 0) texts.insert(texts.end(), {settings, settings.substr(0, 1)});
    return texts;
}

// The longest wording that fits `width`; else the shortest, cut at the edge.
size_t fittingWording(const std::vector<std::string>& texts, int32_t width) {
    for (size_t i = 0; i < texts.size(); ++i)
        if (kCaptionMargin + static_cast<int64_t>(texts[i].size()) * kGlyphSize <= width) return i;
    return texts.size() - 1;
}

// The tile's display set over the settings: its mode, or pass-through; a
// parade's panel with its one channel switched on.
Status setDisplay(FilterInstance& inst, const MonitorTile& t, int channel) {
    ConfigArgs args{};
    const std::string line = inst.scriptLine();
    if (!configArgsOfLine(line, args))
        return Status::fail(
            "cannot read the filter's script line back, so a monitor cannot set its displays: '" + line +
            "'");
    args[kArgPassthru] = t.picture ? 1 : 0;
    if (!t.picture) args[kArgMode] = t.mode;
    if (channel >= 0)
        for (int c = 0; c < kChannelCount; ++c) args[kArgLuma + c] = c == channel ? 1 : 0;
    return inst.runScriptLine(formatConfigLine(args));
}

}  // namespace

Status Monitor::addTile(const FilterModuleHost& module, const TileSetUp& setUp, const SourceInfo& info,
                        const MonitorTile& what, int channel) {
    Tile tile;
    tile.what = what;
    tile.wholeFrame = showsPicture(what.mode, what.picture);
    tile.inst = std::make_unique<FilterInstance>(module);
    FilterInstance& inst = *tile.inst;
    {
        const CallbackScope scope("initProc", -1);
        if (Status s = setUp.configure(inst); !s.ok()) return s;
    }
    if (Status s = setDisplay(inst, what, channel); !s.ok()) return s;
    if (setUp.followSource)
        if (Status s = setUp.followSource(inst, info.levels); !s.ok()) return s;
    tile.rgb = rgbLevelsFor(what.mode, what.picture, filterStudioRange(inst), info.levels);
    const int32_t w = tile.wholeFrame ? info.w : region_.w, h = tile.wholeFrame ? info.h : region_.h;
    {
        const CallbackScope scope("paramProc", -1);
        if (Status s = inst.prepare(w, h, setUp.padPitch); !s.ok()) return s;
    }
    tile.natural = {inst.output().w(), inst.output().h()};
    tile.size = shownSize(tile, pictureSize_);
    if (tile.size != tile.natural) {
        tile.scaler = std::make_unique<PictureScaler>();
        if (Status s = tile.scaler->open(tile.natural.w, tile.natural.h, tile.size.w, tile.size.h); !s.ok())
            return s;
    }
    tile.wordings = captionsOf(what, channel, inst.labelText());
    tile.caption = tile.wordings[fittingWording(tile.wordings, tile.size.w)];
    tiles_.push_back(std::move(tile));
    return {};
}

Status Monitor::addParade(const FilterModuleHost& module, const TileSetUp& setUp, const SourceInfo& info,
                          const Display& settings) {
    // One tile per channel, in channel order, each the waveform a run with
    // only that channel switched on draws: a panel of every level.
    const MonitorTile waveform = {.mode = static_cast<int>(DisplayMode::Waveform)};
    const size_t first = tiles_.size();
    for (int c = 0; c < kChannelCount; ++c)
        if (settings.channels[c])
            if (Status s = addTile(module, setUp, info, waveform, c); !s.ok()) return s;
    if (tiles_.size() == first)
        return Status::fail("-d " + std::string(kParadeName) +
                            ": no channel is switched on, so it has no panel (--channels names them)");
    // The panels' captions read alike: all in the wording the narrowest fit takes.
    size_t wording = 0;
    for (size_t i = first; i < tiles_.size(); ++i)
        wording = std::max(wording, fittingWording(tiles_[i].wordings, tiles_[i].size.w));
    for (size_t i = first; i < tiles_.size(); ++i)
        tiles_[i].caption = tiles_[i].wordings[std::min(wording, tiles_[i].wordings.size() - 1)];
    return {};
}

std::string Monitor::settingsText() {
    std::string text;
    for (Tile& t : tiles_)
        text += tileName(t.what) + ": " + t.inst->label() + " " + t.inst->scriptLine() + "\n";
    return text;
}

Status Monitor::open(const FilterModuleHost& module, const MonitorRequest& request, const TileSetUp& setUp,
                     const Display& settings, const Reader& reader, FrameConverter& converter, int threads) {
    const SourceInfo& info = reader.info();
    std::vector<MonitorTile> list = request.tiles;
    const bool parade = std::any_of(list.begin(), list.end(), [](const MonitorTile& t) { return t.parade; });
    if ((list.empty() || parade) && !settings.known)
        return Status::fail(
            "the filter saves no script line, so a monitor cannot tell " +
            std::string(parade ? "which channels the parade shows" : "which display to show"));
    if (list.empty()) list.push_back({settings.passthru, settings.mode});
    name_ = list.size() == 1 && parade ? std::string(kParadeName) : std::string(kMonitorName);
    labels_ = request.labels;
    pictureSize_ = request.pictureSize;
    sampleAspect_ = info.sampleAspect;
    layout_ = request.layout.value_or(TileLayout::Row);
    region_ = {info.w, info.h, 0, 0};
    if (request.crop) {
        if (Status s = resolveCrop(*request.crop, info.w, info.h, region_, info.sampleAspect); !s.ok())
            return s;
        cropped_ = true;
    }
    for (const MonitorTile& what : list)
        if (Status s = what.parade ? addParade(module, setUp, info, settings)
                                   : addTile(module, setUp, info, what, -1);
            !s.ok())
            return s;
    // A size no tile takes would be dropped without a word.
    if (pictureSize_ &&
        std::none_of(tiles_.begin(), tiles_.end(), [](const Tile& t) { return t.wholeFrame; }))
        return Status::usage(
            "--picture-size: no tile shows the picture (picture, passthru, video or hotpixel)");

    const ptrdiff_t pitch = kBytesPerPixel * (static_cast<ptrdiff_t>(info.w) + setUp.padPitch);
    full_[0] = FrameBuffer(info.w, info.h, pitch);
    // The reading hands over the first tile's levels, and a second copy is
    // converted for the tiles that want the other kind.
    converter.setLevels(tiles_[0].rgb);
    for (Tile& t : tiles_) t.levels = t.rgb == tiles_[0].rgb ? 0 : 1;
    const auto other =
        std::find_if(tiles_.begin(), tiles_.end(), [](const Tile& t) { return t.levels == 1; });
    if (other != tiles_.end()) {
        full_[1] = FrameBuffer(info.w, info.h, pitch);
        reader_ = &reader;
        second_ = &converter;
        secondLevels_ = other->rgb;
    }

    // More threads than tiles would leave the slices to one of them.
    workers_ = std::make_unique<SliceWorkers>(std::clamp(threads, 1, static_cast<int>(tiles_.size())));

    const int32_t captionH = labels_ ? kCaptionHeight : 0;
    const TilePlan laid = plan(pictureSize_);
    for (size_t i = 0; i < tiles_.size(); ++i) tiles_[i].at = {laid.at[i].x, laid.at[i].y + captionH};
    output_ =
        FrameBuffer(laid.output.w, laid.output.h, kBytesPerPixel * static_cast<ptrdiff_t>(laid.output.w));
    return {};
}

TileSize Monitor::shownSize(const Tile& t, const std::optional<PictureSize>& size) const {
    if (!t.wholeFrame || !size) return t.natural;
    return scaledPictureSize(*size, t.natural.w, t.natural.h, sampleAspect_.num, sampleAspect_.den);
}

TilePlan Monitor::plan(const std::optional<PictureSize>& size) const {
    std::vector<TileSize> cells;
    const int32_t captionH = labels_ ? kCaptionHeight : 0;
    for (const Tile& t : tiles_) {
        const TileSize shown = shownSize(t, size);
        cells.push_back({shown.w, shown.h + captionH});
    }
    return layOutTiles(cells, layout_, kOutputSideMultiple);
}

TileSize Monitor::outputWith(const std::optional<PictureSize>& size) const { return plan(size).output; }

std::optional<PictureSize> Monitor::pictureSizeFitting(TileSize room, int32_t narrowest) const {
    const auto picture =
        std::find_if(tiles_.begin(), tiles_.end(), [](const Tile& t) { return t.wholeFrame; });
    if (picture == tiles_.end()) return std::nullopt;
    // The size as --picture-size WIDTHx-2 resolves it, written out whole so
    // that the same words on a render's command line give the same output.
    auto sized = [&](int32_t w) {
        const TileSize s = shownSize(*picture, PictureSize{w, -kOutputSideMultiple});
        return PictureSize{s.w, s.h};
    };
    auto fits = [&](int32_t w) {
        const TileSize out = outputWith(sized(w));
        return out.w <= room.w && out.h <= room.h;
    };
    // The output grows with the picture: the widest even width that fits, by halving.
    int32_t lo = (narrowest + 1) / kOutputSideMultiple, hi = picture->natural.w / kOutputSideMultiple;
    if (lo > hi || !fits(lo * kOutputSideMultiple)) return std::nullopt;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo + 1) / 2;
        if (fits(mid * kOutputSideMultiple))
            lo = mid;
        else
            hi = mid - 1;
    }
    return sized(lo * kOutputSideMultiple);
}

Status Monitor::start() {
    for (Tile& t : tiles_) {
        const CallbackScope scope("startProc", -1);
        if (Status s = t.inst->start(); !s.ok()) return s;
    }
    return {};
}

Status Monitor::end() {
    for (Tile& t : tiles_) {
        const CallbackScope scope("endProc", -1);
        if (Status s = t.inst->end(); !s.ok()) return s;
    }
    return {};
}

void Monitor::feed(Tile& tile) {
    const ConstFrame full = full_[tile.levels].frame();
    Frame src = tile.inst->source().frame();
    if (tile.wholeFrame)
        copyPixels(full, 0, 0, src);
    else
        copyPixels(full, region_.x, region_.y, src);
}

void Monitor::take(int, FrameBuffer& source) { std::swap(full_[0], source); }

Status Monitor::render(int, int64_t frameNumber, const FrameBuffer*& output) {
    if (second_ != nullptr)
        if (Status s = second_->convert(reader_->picture(), secondLevels_, full_[1]); !s.ok()) return s;
    {
        // On this thread, which waits for every tile: the tiles' own threads
        // would restore one another's scopes out of turn.
        const CallbackScope scope("runProc", frameNumber);
        workers_->run(static_cast<int32_t>(tiles_.size()), [this, frameNumber](int32_t first, int32_t last) {
            for (int32_t i = first; i < last; ++i) {
                Tile& t = tiles_[static_cast<size_t>(i)];
                feed(t);
                t.rendered = t.inst->run(frameNumber);
            }
        });
    }
    for (const Tile& t : tiles_)
        if (!t.rendered.ok()) return t.rendered;
    compose();
    output = &output_;
    return {};
}

std::vector<Monitor::PictureArea> Monitor::pictureAreas() const {
    std::vector<PictureArea> areas;
    for (const Tile& t : tiles_)
        if (t.wholeFrame) areas.push_back({t.at, t.size});
    return areas;
}

void Monitor::compose() {
    const Frame out = output_.frame();
    fillRect(out, 0, 0, kFullExtent, kFullExtent, kClearColour);
    for (Tile& t : tiles_) {
        const Frame dst = area(out, t.at.x, t.at.y, t.size.w, t.size.h);
        const ConstFrame rendered = t.inst->output().frame();
        if (t.scaler)
            t.scaler->scale(rendered, dst);
        else
            copyPixels(rendered, 0, 0, dst);
        if (t.wholeFrame && cropped_) {
            // The region's edges in the tile, widened to whole pixels of it.
            const int64_t fw = rendered.w, fh = rendered.h;
            const auto x0 = static_cast<int32_t>(int64_t{region_.x} * t.size.w / fw);
            const auto y0 = static_cast<int32_t>(int64_t{region_.y} * t.size.h / fh);
            const auto x1 = static_cast<int32_t>((int64_t{region_.x + region_.w} * t.size.w + fw - 1) / fw);
            const auto y1 = static_cast<int32_t>((int64_t{region_.y + region_.h} * t.size.h + fh - 1) / fh);
            fillRect(dst, x0, y0, x1 - x0, 1, kOutlineColour);
            fillRect(dst, x0, y1 - 1, x1 - x0, 1, kOutlineColour);
            fillRect(dst, x0, y0, 1, y1 - y0, kOutlineColour);
            fillRect(dst, x1 - 1, y0, 1, y1 - y0, kOutlineColour);
        }
        if (labels_) {
            const Frame band = area(out, t.at.x, t.at.y - kCaptionHeight, t.size.w, kCaptionHeight);
            // Text plots land one row above the y they are given.
            drawText(band, kCaptionMargin, kCaptionMargin + 1, t.caption.c_str(), kGraticuleColour);
        }
    }
}
