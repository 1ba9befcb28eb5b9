// The viewer's way out while its display server does not answer (a frozen
// compositor, a remote display gone quiet). Xlib waits for a stalled server
// as long as it takes, retrying past the signals that would stop the viewer,
// so a terminating signal also wakes a thread of this unit (on the signals'
// wake-up pipe), which at once shuts the socket of the window's display
// connection: the call the viewer is blocked in, or the next it makes, sees
// the connection end, and Xlib's handler for a lost connection, set here,
// leaves from that thread (which owns the input) without returning into
// Xlib. A viewer that sees the signal first leaves by itself, calling the
// display no more: the same line and status either way. A display really lost (its
// server gone) leaves the same way, with a line that names it. Should even
// that not come (no X connection to shut: a Wayland session), the watching
// thread ends the process itself within the half second.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "pluginhost/status.h"

struct SDL_Window;

class DisplayCutoff {
public:
    // Closes the input, says `why`, ends the process; on the viewer's
    // thread, and never returns.
    using Leave = std::function<void(const Status& why)>;
    // The line an ending prints, and the status it ends with (the command's).
    using Ending = std::function<int(const Status& why)>;

    DisplayCutoff(Leave leave, Ending ending) : leave_(std::move(leave)), ending_(std::move(ending)) {}
    ~DisplayCutoff();  // the watcher stopped, Xlib's handler as it was
    DisplayCutoff(const DisplayCutoff&) = delete;
    DisplayCutoff& operator=(const DisplayCutoff&) = delete;

    // Before the display is reached, on the viewer's thread: the watcher
    // started (a signal from now on ends the viewer in time, whatever it is
    // blocked in).
    Status start();
    // Once the window is open: its connection to shut, Xlib's handler for
    // its loss set. Nothing to shut on another window system.
    void attach(SDL_Window* window);
    // Whether the caller is the first to end the process; the other waits for it.
    bool claim() { return !claimed_.exchange(true); }

private:
    void watch();
    // Whether the watcher was told to stop within `ms`.
    bool stoppedWithin(int ms) const;
    // Xlib's handler for a lost connection: ends the viewer, from its own thread by leave.
    static int connectionLost(struct _XDisplay* display);

    Leave leave_;
    Ending ending_;
    pthread_t owner_{};            // the viewer's thread
    int stop_[2] = {-1, -1};       // the watcher's own pipe: written to stop it
    std::atomic<int> socket_{-1};  // the display connection's, once attached
    std::atomic<bool> claimed_{false};
    int (*previousHandler_)(struct _XDisplay*) = nullptr;  // Xlib's, put back at the end
    bool attached_ = false;
    sigset_t savedMask_{};
    std::thread watcher_;
};
