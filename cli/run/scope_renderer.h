// What turns each source frame into an output frame, for a run and for the
// viewer alike: the module's one display (in as many lanes as it may run)
// or a monitor of several. Its set-up is the one every command shares: the
// run's instance from the stored defaults, scripts and options, the input's
// tags followed, the display checked; callers never ask which of the two
// renders.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert/frame_converter.h"
#include "filter/display_state.h"
#include "filter/frame_renderer.h"
#include "input/input.h"
#include "monitor/monitor.h"
#include "options/options.h"
#include "pluginhost/module_host.h"
#include "run/render.h"

class ScopeRenderer final : public FrameRenderer {
public:
    explicit ScopeRenderer(const FilterModuleHost& module) : module_(module) {}
    ScopeRenderer(const ScopeRenderer&) = delete;
    ScopeRenderer& operator=(const ScopeRenderer&) = delete;

    // The run's instance as the command line asks, its display checked:
    // before the input opens, so a bad setting is said first.
    Status configure(const Options& options);
    // For an input file, the matrix and range follow its tags unless set.
    Status followInput(const Options& options, const SourceInfo& info);
    // The displays prepared for `reader`'s frames, `converter` told the RGB
    // levels they measure against. `threads`: how many a monitor's tiles may use.
    Status prepare(const Options& options, const Reader& reader, FrameConverter& converter, int threads);
    // Starts rendering; with `threads` above 1 a display that keeps nothing
    // from frame to frame gets more instances, one a lane.
    Status start(const Options& options, const SourceInfo& info, int threads);
    // Ends every instance; the first failure.
    Status end();

    FilterInstance& instance() { return *inst_; }
    const Display& display() const { return display_; }
    bool monitor() const { return monitor_.has_value(); }
    // A monitor's: what it would be at another picture size.
    const Monitor* monitorTiles() const { return monitor_ ? &*monitor_ : nullptr; }
    // For a default output name: the display, or the monitor's.
    std::string name() const;
    // Whether the output is the picture at its own geometry (its aspect kept).
    bool showsPictureItself() const;
    // Where the output shows the whole frame: a monitor's picture-shaped
    // tiles, or all of a single such display; none for a scope alone.
    std::vector<Monitor::PictureArea> pictureAreas() const;
    // The frame as the reading must fill it, and the rendered output.
    const FrameBuffer& source() const;
    const FrameBuffer& output() const;
    // Whether a monitor reads each frame again after it, so that the
    // reading must not run ahead of the rendering.
    bool readsEachFrameTwice() const { return monitor_ && monitor_->readsEachFrameTwice(); }
    // --print-config: the settings, a line per tile for a monitor.
    void printConfig();

    int lanes() const override;
    void take(int lane, FrameBuffer& source) override;
    Status render(int lane, int64_t number, const FrameBuffer*& output) override;

private:
    FrameRenderer& renderer();
    const FrameRenderer& renderer() const;

    const FilterModuleHost& module_;
    std::unique_ptr<FilterInstance> inst_;
    Display display_;
    std::optional<Monitor> monitor_;
    std::optional<ModuleRenderer> single_;  // once the display is started
};
