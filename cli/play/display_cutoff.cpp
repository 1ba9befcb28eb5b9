#include "play/display_cutoff.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "os/signals.h"
#include "vocabulary.h"

// Last: Xlib's headers define words (Status, None, Bool) kivrel's own code uses.
#include <SDL.h>
#include <SDL_syswm.h>
#undef Status

namespace {

// From the connection's shutting to the viewer's leaving: the blocked call
// returns at once, and saying why takes a write.
constexpr int kCutAnsweredMs = 150;
// For a leaving begun to close the input (a frame's rendering to finish,
// the reading thread to stop). The two stay within the half second a stop
// is given, with room for a loaded machine's scheduling.
constexpr int kLastWordMs = 150;

// The one cutoff whose window Xlib's handler serves.
std::atomic<DisplayCutoff*> attachedCutoff{nullptr};

}  // namespace

DisplayCutoff::~DisplayCutoff() {
    if (attached_) {
        attachedCutoff = nullptr;
        XSetIOErrorHandler(previousHandler_);
    }
    if (watcher_.joinable()) {
        const char byte = 1;
        if (::write(stop_[1], &byte, 1) == 1) {
            watcher_.join();
        } else {
            watcher_.detach();  // it only waits; the process ends around it
        }
        pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
    }
    for (int fd : stop_)
        if (fd >= 0) ::close(fd);
}

Status DisplayCutoff::start() {
    owner_ = ::pthread_self();
    if (signalWakeFd() < 0) return Status::fail("kivrel play cannot watch for signals: no wake-up pipe");
    if (::pipe2(stop_, O_CLOEXEC) != 0)
        return Status::fail("kivrel play cannot watch for signals: " + std::string(std::strerror(errno)));
    watcher_ = std::thread([this] { watch(); });
    // A write to the display's broken socket raises SIGPIPE on the thread
    // that wrote; blocked here (and on the threads started from here on), it
    // leaves the loss to Xlib's handler, which names the display. A SIGPIPE
    // sent to the process reaches the watcher, which takes it as ever.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &savedMask_);
    return {};
}

void DisplayCutoff::attach(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE ||
        info.subsystem != SDL_SYSWM_X11 || info.info.x11.display == nullptr)
        return;
    attachedCutoff = this;
    previousHandler_ = XSetIOErrorHandler(connectionLost);
    attached_ = true;
    socket_ = ConnectionNumber(info.info.x11.display);
}

int DisplayCutoff::connectionLost(Display* display) {
    DisplayCutoff* self = attachedCutoff.load();
    const int sig = pendingSignal();
    // The socket shut on a signal, or the server gone.
    const Status why = sig != 0 ? Status::fail(interruptedBy(sig))
                                : Status::fail("lost the display " + std::string(DisplayString(display)) +
                                               ": the connection to its server is gone");
    if (self != nullptr && ::pthread_equal(::pthread_self(), self->owner_)) self->leave_(why);
    // Another thread's call (SDL's own): the input is the viewer's thread's
    // to close, so the process's end closes it. Returning would have Xlib
    // exit() through what the display no longer serves.
    if (self == nullptr) {
        logLine(why.message());
        ::_exit(sig != 0 ? exitStatusForSignal(sig) : kExitFailure);
    }
    if (!self->claim())
        for (;;) ::pause();  // the process is being ended already
    ::_exit(self->ending_(why));
}

bool DisplayCutoff::stoppedWithin(int ms) const {
    pollfd p{stop_[0], POLLIN, 0};
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        const int n = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

void DisplayCutoff::watch() {
    pollfd p[2] = {{signalWakeFd(), POLLIN, 0}, {stop_[0], POLLIN, 0}};
    for (;;) {
        const int n = ::poll(p, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (p[1].revents & POLLIN) != 0) return;
        if ((p[0].revents & POLLIN) != 0) break;
    }
    // Shut, not closed: the descriptor stays the connection's, so no other
    // file can take its number while Xlib still holds it.
    if (const int fd = socket_.load(); fd >= 0 && !claimed_.load()) (void)::shutdown(fd, SHUT_RDWR);
    if (stoppedWithin(kCutAnsweredMs)) return;
    const int sig = pendingSignal();
    // The viewer did not answer even so (no connection to shut): out from
    // here, the input closed by the process's end.
    if (claim()) ::_exit(ending_(Status::fail(interruptedBy(sig))));
    if (stoppedWithin(kLastWordMs)) return;
    ::_exit(exitStatusForSignal(sig));
}
