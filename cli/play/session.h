// What the viewer shows, from one point of the input on: the input read
// from a frame, the module's instances set up as a render's would be (one
// display, or a monitor of several), rendering each frame on demand. A
// seek or a change of settings opens a new session: the instances start
// afresh, so accumulated histograms begin again where the picture does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert/frame_converter.h"
#include "filter/display_state.h"
#include "input/input.h"
#include "monitor/monitor.h"
#include "options/options.h"
#include "pluginhost/module_host.h"
#include "run/pipeline.h"
#include "run/read.h"
#include "run/render.h"
#include "run/scope_renderer.h"

class PlaySession {
public:
    PlaySession() = default;
    PlaySession(const PlaySession&) = delete;
    PlaySession& operator=(const PlaySession&) = delete;
    ~PlaySession();

    // Sets up `options`' displays on its input, read from source frame `from` on.
    Status open(const FilterModuleHost& module, const Options& options, int64_t from);
    // The next frame, rendered when `wanted` says so of it (a late frame
    // is dropped unread by the module: its output is null), or always when
    // the display needs every frame.
    RenderedFrame next(const std::function<bool(const ReadFrame&)>& wanted);

    // From another thread than the one reading: the reading stops, a read
    // in progress gives up, and next() then gives the end.
    void cancel();

    const SourceInfo& info() const { return reader_->info(); }
    // A capture device or a network stream: no seeking, and a pause loses what went by.
    bool live() const { return reader_->info().live; }
    // The input's last frame by number, or -1 when the container does not tell.
    int64_t lastFrame() const { return lastFrame_; }
    // Whether every frame must reach the module (histograms accumulating).
    bool needsEveryFrame() const { return everyFrame_; }
    // What the status line calls the view: the display, or "monitor".
    std::string name() const { return scopes_->name(); }
    // The settings as the module's Config line holds them for one display
    // (a monitor's tiles differ only in what each shows).
    const ConfigArgs& args() const { return args_; }
    // Where the output shows the whole frame: a monitor's picture-shaped
    // tiles, or all of a single such display; none for a scope alone.
    std::vector<Monitor::PictureArea> pictureAreas() const { return scopes_->pictureAreas(); }
    // A monitor's: what it would be at another picture size, without opening it again.
    const Monitor* monitor() const { return scopes_->monitorTiles(); }

private:
    std::unique_ptr<Reader> reader_;
    std::unique_ptr<FrameConverter> converter_;
    std::unique_ptr<ScopeRenderer> scopes_;
    // Decoding on a thread of its own, a few frames ahead, unless a monitor
    // converts each frame again after it (then on this thread, in turn).
    // After the reader, the converter and the instances, so that it ends before them.
    std::optional<ReadStage> reading_;
    bool everyFrame_ = false;
    int64_t lastFrame_ = -1;
    ConfigArgs args_{};
};
