#include "run/scope_renderer.h"

#include <algorithm>
#include <utility>

#include "os/signals.h"
#include "run/filter_setup.h"
#include "run/print_config.h"

namespace {

// Module instances rendering at once: beyond a few, more only cost memory.
constexpr int kMostLanes = 4;

Status checkRendered(const Options& options, const Display& display) {
    if (options.printConfig || !display.known || display.passthru || display.rendered()) return {};
    return Status::fail("the settings select display mode " + std::to_string(display.mode) +
                        ", which the filter does not render (0 to " + std::to_string(kDisplayModeCount - 1) +
                        ")");
}

}  // namespace

Status ScopeRenderer::configure(const Options& options) {
    inst_ = std::make_unique<FilterInstance>(module_);
    {
        const CallbackScope scope("initProc", -1);
        if (Status s = ::configure(*inst_, options); !s.ok()) return s;
    }
    display_ = currentDisplay(*inst_);
    return checkRendered(options, display_);
}

Status ScopeRenderer::followInput(const Options& options, const SourceInfo& info) {
    if (options.input.empty()) return {};
    if (Status s = followSource(*inst_, options, info.levels); !s.ok()) return s;
    display_ = currentDisplay(*inst_);
    return {};
}

Status ScopeRenderer::prepare(const Options& options, const Reader& reader, FrameConverter& converter,
                              int threads) {
    if (options.monitor.wanted())
        return monitor_.emplace().open(module_, options.monitor, tileSetUp(options), display_, reader,
                                       converter, threads);
    const SourceInfo& info = reader.info();
    // The frames come converted at the levels the display measures against.
    converter.setLevels(
        rgbLevelsFor(display_.mode, display_.passthru, filterStudioRange(*inst_), info.levels));
    const CallbackScope scope("paramProc", -1);
    return inst_->prepare(info.w, info.h, options.padPitch);
}

Status ScopeRenderer::start(const Options& options, const SourceInfo& info, int threads) {
    {
        const CallbackScope scope("startProc", -1);
        if (Status s = monitor_ ? monitor_->start() : inst_->start(); !s.ok()) return s;
    }
    if (monitor_) return {};
    single_.emplace(*inst_);
    if (threads <= 1 || keepsStateAcrossFrames(*inst_)) return {};
    // The other lanes' instances set up as the first was: some settings
    // come from the store, which only the same steps read the same.
    const TileSetUp setUp = tileSetUp(options);
    return single_->addLanes(module_, std::min(threads, kMostLanes), [&](FilterInstance& lane) {
        if (Status s = setUp.configure(lane); !s.ok()) return s;
        if (setUp.followSource)
            if (Status s = setUp.followSource(lane, info.levels); !s.ok()) return s;
        const CallbackScope scope("paramProc", -1);
        if (Status s = lane.prepare(info.w, info.h, options.padPitch); !s.ok()) return s;
        return lane.start();
    });
}

Status ScopeRenderer::end() {
    Status first = single_ ? single_->end() : Status{};
    const CallbackScope scope("endProc", -1);
    Status s = monitor_ ? monitor_->end() : inst_->end();
    return first.ok() ? s : first;
}

std::string ScopeRenderer::name() const { return monitor_ ? monitor_->name() : display_.name(); }

bool ScopeRenderer::showsPictureItself() const {
    return !monitor_ && display_.known && showsPicture(display_.mode, display_.passthru);
}

std::vector<Monitor::PictureArea> ScopeRenderer::pictureAreas() const {
    if (monitor_) return monitor_->pictureAreas();
    if (!showsPicture(display_.mode, display_.passthru)) return {};
    return {{{0, 0}, {inst_->output().w(), inst_->output().h()}}};
}

const FrameBuffer& ScopeRenderer::source() const { return monitor_ ? monitor_->source() : inst_->source(); }

const FrameBuffer& ScopeRenderer::output() const {
    return monitor_ ? monitor_->output() : std::as_const(*inst_).output();
}

void ScopeRenderer::printConfig() {
    if (monitor_)
        ::printConfig(*monitor_);
    else
        ::printConfig(*inst_);
}

FrameRenderer& ScopeRenderer::renderer() {
    return monitor_ ? static_cast<FrameRenderer&>(*monitor_) : *single_;
}

const FrameRenderer& ScopeRenderer::renderer() const {
    return monitor_ ? static_cast<const FrameRenderer&>(*monitor_) : *single_;
}

int ScopeRenderer::lanes() const { return renderer().lanes(); }
void ScopeRenderer::take(int lane, FrameBuffer& source) { renderer().take(lane, source); }
Status ScopeRenderer::render(int lane, int64_t number, const FrameBuffer*& output) {
    return renderer().render(lane, number, output);
}
