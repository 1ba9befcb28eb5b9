#include "play/player.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "filter/one_run_store.h"
#include "input/colour_standards.h"
#include "options/stored_defaults.h"
#include "os/paths.h"
#include "os/signals.h"
#include "output/output.h"
#include "vocabulary.h"

namespace {

constexpr double kSkipSeconds = 5.0;       // Left and Right while playing
constexpr double kLongSkipSeconds = 60.0;  // Up and Down
constexpr double kLongestStill = 0.5;      // seconds of dropped frames before one is shown late
constexpr int kIdleWaitMs = 50;            // paused: how often a signal is looked for
// A picture narrower than this is too small to judge by: below it, the
// whole output is scaled down instead.
constexpr int32_t kNarrowestFittedPicture = 160;
constexpr double kRateSmoothing = 0.1;  // weight of the newest frame in the shown rate
// The hot pixel ceilings H steps through, in IRE: white, and two steps above it.
constexpr int kCeilingStepIre = 10;
constexpr int kCeilings[] = {kWhiteIre, kWhiteIre + kCeilingStepIre, kWhiteIre + 2 * kCeilingStepIre};
// The channel sets c steps through: all four, then each alone.
constexpr int kChannelSets = 1 + kChannelCount;

// The next event within `ms` milliseconds, looked for in short naps. SDL's
// own timed wait has each event that comes in meanwhile send a wake-up to the
// window over a second connection to the display server; one sent as `q`
// closes the window may reach the server after the window is gone, and the
// library's error handler then ends the viewer with status 1 as it shuts down.
bool nextEvent(SDL_Event& e, int ms) {
    constexpr Uint64 kNapMs = 2;
    const Uint64 until = SDL_GetTicks64() + static_cast<Uint64>(std::max(ms, 0));
    for (;;) {
        if (SDL_PollEvent(&e) != 0) return true;
        const Uint64 now = SDL_GetTicks64();
        if (now >= until) return false;
        SDL_Delay(static_cast<Uint32>(std::min(kNapMs, until - now)));
    }
}

double secondsSince(uint64_t counter) {
    return static_cast<double>(SDL_GetPerformanceCounter() - counter) /
           static_cast<double>(SDL_GetPerformanceFrequency());
}

// Whether `action` moves to another point of the input (a step forward
// while paused reads on; every other move seeks).
bool seeks(PlayAction action, bool paused) {
    switch (action) {
    case PlayAction::Back:
    case PlayAction::BackLong:
    case PlayAction::ForwardLong:
    case PlayAction::Home:
    case PlayAction::End: return true;
    case PlayAction::Forward: return !paused;
    default: return false;
    }
}

}  // namespace

Player::~Player() {
    closeInput();
    window_.close();
}

void Player::closeInput() {
    if (!session_) return;
    session_->cancel();  // the worker's read gives up, if it is reading
    worker_.wait();
    session_.reset();
}

void Player::leave(const Status& why) {
    if (!cutoff_.claim())
        for (;;) ::pause();  // the watcher is ending the process
    const int status = ending_(why);
    closeInput();
    ::_exit(status);
}

double Player::secondsOf(int64_t pts) const {
    const SourceInfo& info = session_->info();
    return static_cast<double>(pts - info.startPts) * info.timeBase.num / info.timeBase.den;
}

int64_t Player::framesIn(double seconds) const {
    const Rational r = session_->info().frameRate;
    if (r.num <= 0 || r.den <= 0) return 1;
    return std::max<int64_t>(1, std::llround(seconds * r.num / r.den));
}

Status Player::reopen(int64_t at) {
    worker_.wait();  // the frame it rendered belongs to the session that goes
    auto next = std::make_unique<PlaySession>();
    if (Status s = next->open(module_, options_, at); !s.ok()) return s;
    session_.reset();
    session_ = std::move(next);
    shownOutput_ = nullptr;
    anchored_ = false;
    ended_ = false;
    return {};
}

Status Player::fitScreen() {
    const Monitor* monitor = session_->monitor();
    const std::optional<TileSize> room = window_.pictureRoom();
    if (monitor == nullptr || options_.monitor.pictureSize || !room) return {};
    const TileSize whole = monitor->outputWith(std::nullopt);
    if (whole.w <= room->w && whole.h <= room->h) return {};
    const std::optional<PictureSize> size = monitor->pictureSizeFitting(*room, kNarrowestFittedPicture);
    if (!size) return {};  // the scopes alone are too large: scaled down, as any output
    options_.monitor.pictureSize = size;
    const std::string words = std::to_string(size->w) + "x" + std::to_string(size->h);
    const TileSize screen = window_.screen().value_or(*room);
    logLine("picture size " + words + " to fit the screen (" + std::to_string(screen.w) + "x" +
            std::to_string(screen.h) + ")");
    fitted_ = "picture " + words + " to fit";
    return reopen(-1);
}

Status Player::present(const FrameBuffer& output, const ReadFrame& meta, bool renderNext) {
    if (hashes_.is_open()) {
        hashes_ << formatHashLine({counts_.shown, meta.number, hasher_.md5(output)}) << '\n';
        hashes_.flush();
        if (!hashes_) return Status::fail(play_.hashFile + ": cannot write the frame hashes");
    }
    ++counts_.shown;
    if (!paused_ && lastShown_ != 0) {
        const double dt = secondsSince(lastShown_);
        if (dt > 0) rate_ = rate_ == 0 ? 1.0 / dt : rate_ + kRateSmoothing * (1.0 / dt - rate_);
    }
    lastShown_ = SDL_GetPerformanceCounter();
    current_ = meta.number;
    currentSeconds_ = secondsOf(meta.pts);
    shownOutput_ = &output;
    if (Status s = window_.setPicture(output); !s.ok()) return s;
    // The output is copied out: the worker may render the next frame into
    // it while the window presents this one. Keys wait for it (settle()),
    // so what they act on is again the frame shown.
    if (renderNext && !paused_)
        worker_.start(
            [this] { ahead_ = session_->next([this](const ReadFrame& m) { return !late(m, true); }); });
    restatus();
    return {};
}

void Player::restatus() {
    if (current_ < 0) return;
    char text[256];
    std::snprintf(text, sizeof text, "%.3f s  frame %lld  %s  %.1f fps  %lld dropped", currentSeconds_,
                  static_cast<long long>(current_), session_->name().c_str(), paused_ ? 0.0 : rate_,
                  static_cast<long long>(counts_.dropped));
    std::string status = text;
    if (session_->live()) status += "  live";
    if (paused_ || ended_) status += ended_ ? "  end" : "  paused";
    if (!fitted_.empty()) status += "  " + fitted_;
    if (window_.scaledDown()) status += "  scaled down to fit";
    if (!note_.empty()) status += "  " + note_;
    if (helpShown_) status = keysLine();
    (void)window_.present(status);
}

bool Player::late(const ReadFrame& meta, bool playing) const {
    if (!playing || !anchored_) return false;
    // Where reading alone cannot keep up, dropping would show nothing
    // at all: one frame in each stretch is shown, and the clock slips to it.
    if (droppedInARow_ >= framesIn(kLongestStill)) return false;
    const double due = secondsOf(meta.pts) - anchorSeconds_;
    const double frame = 1.0 / std::max(1.0, static_cast<double>(framesIn(1.0)));
    return secondsSince(anchor_) > due + frame;
}

PlayFrame Player::nextFrame(bool playing) {
    PlayFrame f;
    if (worker_.busy()) {
        worker_.wait();
        f = std::move(ahead_);
    } else {
        f = session_->next([&](const ReadFrame& meta) { return !late(meta, playing); });
    }
    noteDamage(f.item);
    return f;
}

void Player::noteDamage(const SourceItem& item) {
    for (const std::string& d : item.damage) logLine(d);
    counts_.damaged = counts_.damaged || !item.damage.empty();
}

Status Player::settle() {
    if (!worker_.busy()) return {};
    const PlayFrame f = nextFrame(true);
    switch (f.item.kind) {
    case SourceItem::Kind::Failed: return f.item.status;
    case SourceItem::Kind::End:
        ended_ = true;
        paused_ = true;
        restatus();
        return {};
    default: break;
    }
    if (f.output == nullptr) {
        ++counts_.dropped;
        ++droppedInARow_;
        return {};
    }
    return present(*f.output, f.item.meta);
}

Status Player::showNext(bool playing) {
    const PlayFrame f = nextFrame(playing);
    if (f.item.kind == SourceItem::Kind::Failed) return f.item.status;
    if (f.item.kind == SourceItem::Kind::End) {
        ended_ = true;
        paused_ = true;
        restatus();
        return {};
    }
    if (f.output == nullptr || late(f.item.meta, playing)) {
        if (f.output != nullptr) shownOutput_ = nullptr;  // it holds a frame not shown
        ++counts_.dropped;
        ++droppedInARow_;
        return {};
    }
    if (droppedInARow_ >= framesIn(kLongestStill)) anchored_ = false;
    droppedInARow_ = 0;
    if (playing && !anchored_) {
        anchor_ = SDL_GetPerformanceCounter();
        anchorSeconds_ = secondsOf(f.item.meta.pts);
        anchored_ = true;
    }
    // Until the frame is due, keys are heard; one that moves elsewhere
    // leaves this frame unshown, a pause shows it at once.
    while (playing) {
        const double wait = secondsOf(f.item.meta.pts) - anchorSeconds_ - secondsSince(anchor_);
        if (wait <= 0) break;
        SDL_Event e;
        if (!nextEvent(e, std::max(1, static_cast<int>(wait * 1000)))) continue;
        if (e.type == SDL_KEYDOWN) {
            const KeyBinding& key = bindingFor(e.key.keysym.sym, (e.key.keysym.mod & KMOD_SHIFT) != 0);
            if (key.action == PlayAction::Pause) {
                paused_ = true;
                break;
            }
            if (key.action != PlayAction::None) {
                if (Status s = present(*f.output, f.item.meta); !s.ok()) return s;
                return act(key);
            }
        } else if (e.type == SDL_MOUSEBUTTONDOWN) {
            press(e.button);
        } else if (e.type == SDL_MOUSEBUTTONUP && (dragFrom_ || e.button.button == SDL_BUTTON_RIGHT)) {
            if (Status s = present(*f.output, f.item.meta); !s.ok()) return s;
            return release(e.button);
        } else if (e.type == SDL_QUIT) {
            quit_ = true;
            return {};
        }
        if (pendingSignal() != 0) return {};
    }
    return present(*f.output, f.item.meta, playing);
}

Status Player::seekTo(int64_t frame) {
    if (session_->lastFrame() >= 0) frame = std::min(frame, session_->lastFrame());
    frame = std::max<int64_t>(0, frame);
    if (Status s = reopen(frame); !s.ok()) return s;
    const bool wasPaused = paused_;
    if (Status s = showNext(false); !s.ok()) return s;
    if (ended_) {  // past the end the container did not state: stay where it was
        if (Status s = reopen(current_); !s.ok()) return s;
        if (Status s = showNext(false); !s.ok()) return s;
        paused_ = true;
        return {};
    }
    paused_ = wasPaused;
    restatus();
    return {};
}

Status Player::changeSettings() {
    if (Status s = reopen(std::max<int64_t>(0, current_)); !s.ok()) return s;
    const bool wasPaused = paused_;
    if (Status s = showNext(false); !s.ok()) return s;
    paused_ = wasPaused;
    restatus();
    return {};
}

Status Player::savePicture() {
    if (shownOutput_ == nullptr) return {};
    char number[32];
    std::snprintf(number, sizeof number, "%06lld", static_cast<long long>(current_));
    const std::string stem = options_.input.empty() ? std::string("testcard") : stemOf(options_.input);
    const std::string path = stem + "." + session_->name() + "." + number + ".png";
    const OutputFormat* format = nullptr;
    if (Status s = outputFormatFor(path, format); !s.ok()) return s;
    WriterSettings ws;
    ws.w = shownOutput_->w();
    ws.h = shownOutput_->h();
    ws.frameRate = session_->info().frameRate;  // the encoder wants a time base, as a render's
    ws.timeBase = session_->info().timeBase;
    ws.frames = 1;
    ws.overwrite = true;  // the same frame and display again: the same picture
    std::unique_ptr<Writer> writer;
    if (Status s = format->open(path, ws, writer); !s.ok()) return s;
    if (Status s = writer->write(*shownOutput_, current_); !s.ok()) return s;
    if (Status s = writer->finish(); !s.ok()) return s;
    note_ = "saved " + path;
    return {};
}

Status Player::saveDefaults() {
    // What is shown, as the Config line holds it, and the ceiling.
    Options store;
    const ConfigArgs& args = session_->args();
    for (int k = 0; k < kConfigArgCount; ++k) store.config[k] = args[k];
    store.maxIre = options_.maxIre;
    store.quiet = true;
    if (setDefaults(store) != kExitOk) return Status::fail("the defaults could not be saved");
    note_ = "saved as the defaults";
    return {};
}

void Player::press(const SDL_MouseButtonEvent& e) {
    if (e.button != SDL_BUTTON_LEFT) return;
    const PicturePoint p = window_.pictureAt(e.x, e.y);
    dragFrom_.reset();
    if (p.inside) dragFrom_ = p;
}

Status Player::release(const SDL_MouseButtonEvent& e) {
    if (e.button == SDL_BUTTON_RIGHT) {
        if (!options_.monitor.crop) return {};
        return setRegion(std::nullopt, "region cleared");
    }
    if (e.button != SDL_BUTTON_LEFT || !dragFrom_) return {};
    const PicturePoint from = *dragFrom_;
    dragFrom_.reset();
    const PicturePoint to = window_.pictureAt(e.x, e.y);
    if (to.x == from.x && to.y == from.y) return {};  // a click, not a drag
    for (const Monitor::PictureArea& a : session_->pictureAreas()) {
        if (from.x < a.at.x || from.y < a.at.y || from.x >= a.at.x + a.size.w || from.y >= a.at.y + a.size.h)
            continue;
        // The frame's pixels under the first and the last pixel of the
        // drag, both in the region: a drag past the tile's edge stops there.
        const SourceInfo& info = session_->info();
        auto frameAt = [](int32_t v, int32_t at, int32_t shown, int32_t whole) {
            return static_cast<int32_t>(int64_t{std::clamp(v - at, 0, shown - 1)} * whole / shown);
        };
        const auto [x0, x1] =
            std::minmax({frameAt(from.x, a.at.x, a.size.w, info.w), frameAt(to.x, a.at.x, a.size.w, info.w)});
        const auto [y0, y1] =
            std::minmax({frameAt(from.y, a.at.y, a.size.h, info.h), frameAt(to.y, a.at.y, a.size.h, info.h)});
        CropRequest region;
        const std::string text = std::to_string(x1 - x0 + 1) + ":" + std::to_string(y1 - y0 + 1) + ":" +
                                 std::to_string(x0) + ":" + std::to_string(y0);
        if (Status s = parseCropRequest(text, region); !s.ok()) return s;
        return setRegion(region, "--crop " + text);
    }
    return {};
}

Status Player::setRegion(std::optional<CropRequest> region, const std::string& said) {
    std::optional<CropRequest> was = std::move(options_.monitor.crop);
    options_.monitor.crop = std::move(region);
    note_.clear();
    if (Status s = changeSettings(); !s.ok()) {
        // The view stays as it was, and says why (on the terminal too:
        // the status line may be cut short).
        options_.monitor.crop = std::move(was);
        note_ = s.message();
        logLine(note_);
        restatus();
        return {};
    }
    note_ = said;
    restatus();
    return {};
}

Status Player::act(const KeyBinding& key) {
    note_.clear();
    const bool wasHelp = helpShown_;
    helpShown_ = false;
    ConfigArgs args = session_->args();
    if (session_->live() && seeks(key.action, paused_)) {
        note_ = "live: no seeking";
        restatus();
        return {};
    }
    switch (key.action) {
    case PlayAction::None:
        if (wasHelp) restatus();  // any key hides the help
        break;
    case PlayAction::Quit: quit_ = true; break;
    case PlayAction::Pause:
        if (ended_ && !session_->live()) return seekTo(0);
        // A live source went on meanwhile: play on from what comes now,
        // not from what was queued while still.
        if (session_->live() && (paused_ || ended_))
            if (Status s = reopen(-1); !s.ok()) return s;
        paused_ = !paused_;
        anchored_ = false;
        rate_ = 0;
        lastShown_ = 0;
        restatus();
        break;
    case PlayAction::Back: return seekTo(paused_ ? current_ - 1 : current_ - framesIn(kSkipSeconds));
    case PlayAction::Forward:
        if (paused_) {
            if (ended_) return {};
            return showNext(false);
        }
        return seekTo(current_ + framesIn(kSkipSeconds));
    case PlayAction::BackLong: return seekTo(current_ - framesIn(kLongSkipSeconds));
    case PlayAction::ForwardLong: return seekTo(current_ + framesIn(kLongSkipSeconds));
    case PlayAction::Home: return seekTo(0);
    case PlayAction::End: {
        const SourceInfo& info = session_->info();
        if (session_->lastFrame() < 0 && info.seconds <= 0) return {};
        return seekTo(session_->lastFrame() >= 0 ? session_->lastFrame() : framesIn(info.seconds) - 1);
    }
    case PlayAction::Display:
        // One display: a list of them gives way to the one chosen.
        options_.monitor.tiles.clear();
        options_.monitor.listed = false;
        // A picture size is for a display of the picture (a scope alone
        // would refuse it), and one chosen to fit a monitor is not the user's.
        if (!fitted_.empty() || !showsPicture(key.value, false)) options_.monitor.pictureSize.reset();
        fitted_.clear();
        options_.config[kArgMode] = key.value;
        options_.config[kArgPassthru] = 0;
        return changeSettings();
    case PlayAction::Flip: options_.config[key.value] = args[key.value] != 0 ? 0 : 1; return changeSettings();
    case PlayAction::Channels: {
        // All on, then luma, red, green, blue alone, round again.
        int on = 0, which = 0;
        for (int c = 0; c < kChannelCount; ++c)
            if (args[kArgLuma + c] != 0) ++on, which = c;
        const int set = on == kChannelCount ? 1 : on == 1 ? (1 + which + 1) % kChannelSets : 0;
        for (int c = 0; c < kChannelCount; ++c)
            options_.config[kArgLuma + c] = set == 0 || set == 1 + c ? 1 : 0;
        return changeSettings();
    }
    case PlayAction::HotAction:
        options_.config[kArgHotFix] = (std::clamp(args[kArgHotFix], 0, kHotFixCount - 1) + 1) % kHotFixCount;
        return changeSettings();
    case PlayAction::Ceiling: {
        const int now = options_.maxIre.value_or(kDefaultSettings.maxIRE);
        const auto at = std::find(std::begin(kCeilings), std::end(kCeilings), now);
        options_.maxIre =
            at == std::end(kCeilings) || at + 1 == std::end(kCeilings) ? kCeilings[0] : *(at + 1);
        note_ = "ceiling " + std::to_string(*options_.maxIre) + " IRE";
        return changeSettings();
    }
    case PlayAction::SavePicture:
        // Said on the terminal too: a narrow window cuts the status line short.
        if (Status s = savePicture(); !s.ok()) note_ = s.message(), logLine(note_);
        restatus();
        break;
    case PlayAction::SaveDefaults:
        if (Status s = saveDefaults(); !s.ok()) note_ = s.message();
        restatus();
        break;
    case PlayAction::FullScreen: window_.toggleFullScreen(); break;
    case PlayAction::Help:
        helpShown_ = !wasHelp;
        if (helpShown_) std::fputs(keysHelp().c_str(), stdout), std::fflush(stdout);
        restatus();
        break;
    }
    return {};
}

Status Player::run() {
    if (Status s = cutoff_.start(); !s.ok()) return s;
    if (Status s = hasher_.open(); !s.ok()) return s;
    if (!play_.hashFile.empty()) {
        hashes_.open(play_.hashFile, std::ios::trunc);
        if (!hashes_) return Status::fail(play_.hashFile + ": cannot be written");
    }
    if (Status s = window_.connect(); !s.ok()) return s;
    if (Status s = reopen(-1); !s.ok()) return s;
    if (Status s = fitScreen(); !s.ok()) return s;
    // The first frame decides the window's size.
    const PlayFrame first = session_->next([](const ReadFrame&) { return true; });
    noteDamage(first.item);
    if (first.item.kind == SourceItem::Kind::Failed) return first.item.status;
    if (first.item.kind == SourceItem::Kind::End)
        return Status::fail(session_->info().name + ": holds no frames");
    const std::string title =
        "kivrel play: " + (options_.input.empty() ? std::string("test card") : options_.input);
    if (Status s = window_.open(title, first.output->w(), first.output->h()); !s.ok()) return s;
    cutoff_.attach(window_.handle());
    paused_ = play_.paused;
    if (Status s = present(*first.output, first.item.meta, true); !s.ok()) return s;

    while (!quit_) {
        if (pendingSignal() != 0) return Status::fail(interruptedBy(pendingSignal()));
        SDL_Event e;
        const bool still = paused_ || ended_;
        const bool got = still ? nextEvent(e, kIdleWaitMs) : SDL_PollEvent(&e) != 0;
        if (got) {
            if (e.type == SDL_QUIT) break;
            if (e.type == SDL_KEYDOWN || e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP)
                if (Status s = settle(); !s.ok()) return s;
            if (e.type == SDL_KEYDOWN) {
                if (Status s = act(bindingFor(e.key.keysym.sym, (e.key.keysym.mod & KMOD_SHIFT) != 0));
                    !s.ok())
                    return s;
            } else if (e.type == SDL_MOUSEBUTTONDOWN) {
                press(e.button);
            } else if (e.type == SDL_MOUSEBUTTONUP) {
                if (Status s = release(e.button); !s.ok()) return s;
            } else if (e.type == SDL_WINDOWEVENT && (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED ||
                                                     e.window.event == SDL_WINDOWEVENT_EXPOSED)) {
                restatus();
            }
            continue;
        }
        if (!still)
            if (Status s = showNext(true); !s.ok()) return s;
    }
    return {};
}
