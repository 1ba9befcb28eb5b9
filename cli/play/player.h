// The viewer's loop: frames shown at their source times, late ones dropped
// (not rendered) so the picture keeps up, keys and mouse acted on between
// frames. Every setting a key changes is a settings option of the run's
// Options, so what is shown is what a render with those options writes.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "options/options.h"
#include "output/frame_hash.h"
#include "play/display_cutoff.h"
#include "play/keys.h"
#include "play/render_worker.h"
#include "play/session.h"
#include "play/window.h"
#include "run/pipeline.h"

struct SDL_MouseButtonEvent;

struct PlayOptions {
    bool paused = false;      // --paused: open on the first frame, still
    std::string hashFile;     // --presented-md5: a hash line per frame shown
    std::string inputFormat;  // --input-format: FFmpeg's -f before -i (a device, a demuxer)
};

struct PlayCounts {
    int64_t shown = 0, dropped = 0;
    bool damaged = false;  // damage was read past (--skip-errors)
};

class Player final : private FrameSource, private FrameSink {
public:
    // `ending`: the line a stopped viewer prints and the status it ends
    // with (the command's, so that a viewer leaving from inside a display
    // call ends as one returning does).
    Player(const FilterModuleHost& module, Options options, const PlayOptions& play,
           DisplayCutoff::Ending ending)
        : module_(module),
          options_(std::move(options)),
          play_(play),
          ending_(std::move(ending)),
          cutoff_([this](const Status& why) { leave(why); }, ending_) {}
    // The input closed before the window: its teardown talks to the display.
    ~Player();

    // Plays until q, Escape, the window's closing or a signal.
    Status run();
    const PlayCounts& counts() const { return counts_; }
    // Ends the process with `ending`'s status for `why`, the input closed
    // first, and no call to a display that may not answer; on the thread
    // that called run(), from it or from inside a display call.
    [[noreturn]] void leave(const Status& why);

private:
    // The session goes, the worker's frame with it; once gone, nothing.
    void closeInput();
    Status reopen(int64_t at);  // a new session from source frame `at`
    // A monitor larger than the screen, its picture size not given: the
    // largest that fits, as --picture-size would set it.
    Status fitScreen();
    // Takes the frame into the window (opened at the first frame's size)
    // and shows it; `renderNext`: while it is presented, the worker renders
    // the frame after it.
    Status present(const FrameBuffer& output, const ReadFrame& meta, bool renderNext = false);
    // How a flow of frames goes.
    enum class Pace {
        Play,    // frames at their times, late ones dropped, until a key, a pause or the end
        Step,    // one frame, shown at once, the clock left alone
        Settle,  // the frame the worker has coming, shown at once (a key acts on what is shown)
    };
    // The run's frame flow at `pace`, this player its source and its sink.
    Status flow(Pace pace);
    // The flow's source: the worker's frame when it has one coming, else read now.
    RenderedFrame next() override;
    // The flow's sink: a frame shown when due, keys heard until then, or dropped when late.
    Status take(const RenderedFrame& f) override;
    void warn(const std::vector<std::string>& damage) override;  // printed, and counted
    void end(const SourceItem& item) override;                   // paused on the last frame shown
    bool wantsMore() override;
    Status drop();
    // Whether `meta`, read now, comes too late to be shown.
    bool late(const ReadFrame& meta, bool playing) const;
    void restatus();
    Status act(const KeyBinding& key);
    Status seekTo(int64_t frame);
    Status changeSettings();
    Status savePicture();
    Status saveDefaults();
    // The pointer: a left drag on a tile showing the whole frame sets the
    // region of interest (as --crop does), a right click clears it.
    void press(const SDL_MouseButtonEvent& e);
    Status release(const SDL_MouseButtonEvent& e);
    Status setRegion(std::optional<CropRequest> region, const std::string& said);
    int64_t framesIn(double seconds) const;
    double secondsOf(int64_t pts) const;

    const FilterModuleHost& module_;
    Options options_;
    PlayOptions play_;
    DisplayCutoff::Ending ending_;
    std::unique_ptr<PlaySession> session_;
    PlayWindow window_;
    DisplayCutoff cutoff_;
    FrameHasher hasher_;
    std::ofstream hashes_;
    PlayCounts counts_;
    bool paused_ = false, ended_ = false, quit_ = false, helpShown_ = false;
    int64_t current_ = -1;       // the source frame shown
    double currentSeconds_ = 0;  // its time
    const FrameBuffer* shownOutput_ = nullptr;
    std::string note_;    // a one-off word for the status line
    std::string fitted_;  // the picture size chosen to fit the screen, for the status line
    // The clock: the source time `anchorSeconds_` is due at `anchor_`.
    double anchorSeconds_ = 0;
    uint64_t anchor_ = 0;  // SDL's performance counter
    bool anchored_ = false;
    double rate_ = 0;  // frames shown per second, smoothed
    uint64_t lastShown_ = 0;
    int64_t droppedInARow_ = 0;
    Pace pace_ = Pace::Play;
    bool flowStopped_ = false;              // a key or the pointer was acted on during the flow
    std::optional<PicturePoint> dragFrom_;  // where a left drag began, on the output
    // Renders the next frame while this one is presented. It uses the
    // session (and reads the clock's fields above) only between start() and
    // wait(); declared last, so it has ended before the session goes.
    RenderedFrame ahead_;  // what the worker's job read and rendered
    RenderWorker worker_;
};
