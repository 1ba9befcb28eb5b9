#include "play/player.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "filter/one_run_store.h"
#include "options/stored_defaults.h"
#include "os/paths.h"
#include "os/signals.h"
#include "output/output.h"
#include "vocabulary.h"

namespace {

constexpr double kLongestStill = 0.5;  // seconds of dropped frames before one is shown late
constexpr int kIdleWaitMs = 50;        // paused: how often a signal is looked for
// A picture narrower than this is too small to judge by: below it, the
// whole output is scaled down instead.
constexpr int32_t kNarrowestFittedPicture = 160;
constexpr double kRateSmoothing = 0.1;  // weight of the newest frame in the shown rate

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

double Player::secondsOf(int64_t pts) const { return session_->info().timeline().secondsAt(pts); }

int64_t Player::framesIn(double seconds) const { return session_->info().timeline().framesNear(seconds); }

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
    // Open, and watched, before a frame is said to be shown.
    if (window_.handle() == nullptr) {
        const std::string title =
            "kivrel play: " + (options_.input.empty() ? std::string("test card") : options_.input);
        if (Status s = window_.open(title, output.w(), output.h()); !s.ok()) return s;
        cutoff_.attach(window_.handle());
    }
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
    // it while the window presents this one. Keys wait for it (a settling flow),
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

Status Player::flow(Pace pace) {
    if (pace == Pace::Settle && !worker_.busy()) return {};
    const Pace outer = pace_;  // a key acted on while playing may step through a frame
    pace_ = pace;
    flowStopped_ = false;
    RunCounts n;
    Timing t;
    const Status s = flowFrames(*this, *this, n, t);
    pace_ = outer;
    if (!s.ok() && pendingSignal() != 0) return Status::fail(interruptedBy(pendingSignal()));
    return s;
}

RenderedFrame Player::next() {
    if (worker_.busy()) {
        worker_.wait();
        return std::move(ahead_);
    }
    const bool playing = pace_ != Pace::Step;
    return session_->next([&](const ReadFrame& meta) { return !late(meta, playing); });
}

void Player::warn(const std::vector<std::string>& damage) {
    for (const std::string& d : damage) logLine(d);
    counts_.damaged = counts_.damaged || !damage.empty();
}

void Player::end(const SourceItem&) {
    ended_ = true;
    paused_ = true;
    restatus();
}

bool Player::wantsMore() {
    if (pace_ != Pace::Play || flowStopped_ || paused_ || ended_ || quit_) return false;
    // An event waiting is the main loop's to act on, between frames.
    SDL_PumpEvents();
    return SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT) == SDL_FALSE;
}

Status Player::drop() {
    ++counts_.dropped;
    ++droppedInARow_;
    return {};
}

Status Player::take(const RenderedFrame& f) {
    if (pace_ == Pace::Settle) return f.output == nullptr ? drop() : present(*f.output, f.item.meta);
    const bool playing = pace_ == Pace::Play;
    if (f.output == nullptr || late(f.item.meta, playing)) {
        if (f.output != nullptr) shownOutput_ = nullptr;  // it holds a frame not shown
        return drop();
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
                flowStopped_ = true;
                if (Status s = present(*f.output, f.item.meta); !s.ok()) return s;
                return act(key);
            }
        } else if (e.type == SDL_MOUSEBUTTONDOWN) {
            press(e.button);
        } else if (e.type == SDL_MOUSEBUTTONUP && (dragFrom_ || e.button.button == SDL_BUTTON_RIGHT)) {
            flowStopped_ = true;
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
    paused_ = play_.paused;
    if (Status s = flow(Pace::Step); !s.ok()) return s;
    if (counts_.shown == 0) return Status::fail(session_->info().name + ": holds no frames");

    while (!quit_) {
        if (pendingSignal() != 0) return Status::fail(interruptedBy(pendingSignal()));
        SDL_Event e;
        const bool still = paused_ || ended_;
        const bool got = still ? nextEvent(e, kIdleWaitMs) : SDL_PollEvent(&e) != 0;
        if (got) {
            if (e.type == SDL_QUIT) break;
            if (e.type == SDL_KEYDOWN || e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP)
                if (Status s = flow(Pace::Settle); !s.ok()) return s;
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
            if (Status s = flow(Pace::Play); !s.ok()) return s;
    }
    return {};
}
