// The viewer's answers to keys and the pointer: seeking, stepping through
// settings, saving a picture or the defaults, choosing a region.
#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "filter/one_run_store.h"
#include "input/colour_standards.h"
#include "options/stored_defaults.h"
#include "os/paths.h"
#include "output/output.h"
#include "play/player.h"
#include "vocabulary.h"

namespace {

constexpr double kSkipSeconds = 5.0;       // Left and Right while playing
constexpr double kLongSkipSeconds = 60.0;  // Up and Down
// The hot pixel ceilings H steps through, in IRE: white, and two steps above it.
constexpr int kCeilingStepIre = 10;
constexpr int kCeilings[] = {kWhiteIre, kWhiteIre + kCeilingStepIre, kWhiteIre + 2 * kCeilingStepIre};
// The channel sets c steps through: all four, then each alone.
constexpr int kChannelSets = 1 + kChannelCount;

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

Status Player::seekTo(int64_t frame) {
    if (session_->lastFrame() >= 0) frame = std::min(frame, session_->lastFrame());
    frame = std::max<int64_t>(0, frame);
    if (Status s = reopen(frame); !s.ok()) return s;
    const bool wasPaused = paused_;
    if (Status s = flow(Pace::Step); !s.ok()) return s;
    if (ended_) {  // past the end the container did not state: stay where it was
        if (Status s = reopen(current_); !s.ok()) return s;
        if (Status s = flow(Pace::Step); !s.ok()) return s;
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
    if (Status s = flow(Pace::Step); !s.ok()) return s;
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
            return flow(Pace::Step);
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
