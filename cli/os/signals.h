// Signals, so that no run leaves a temporary file behind however it ends.
// A terminating signal (HUP, INT, QUIT, TERM, PIPE) only sets a flag (and
// wakes signalWakeFd()'s waiters): the frame loop and FFmpeg's interrupt
// callback see it, the writers clean up
// (or keep what --keep-partial asks for), and the run exits with 128 + the
// signal's number. A crash signal (SEGV, BUS, ILL, FPE, ABRT) cannot unwind:
// its handler removes the temporary files by name with async-signal-safe
// calls, names the frame and the filter callback it happened in, and
// re-raises the signal with its default action.
#pragma once

#include <cstdint>
#include <string>

// Installs both kinds of handler once, before any output is opened.
void installSignalHandlers();

// The terminating signal received, or 0.
int pendingSignal();
// Readable from the first terminating signal on (a byte the handler writes
// to a pipe of its own): a thread waiting in poll() on it wakes even where
// the one that reads the flag is blocked in a call that retries past signals.
// -1 before installSignalHandlers(), or when the pipe cannot be made.
int signalWakeFd();
// 128 + the signal's number, as shells report it.
int exitStatusForSignal(int signal);
// "interrupted by SIGINT", for the one line a stopped run prints.
std::string interruptedBy(int signal);
// For libavformat's AVIOInterruptCB: nonzero once a terminating signal came,
// so a blocked read gives up.
int interruptRequested(void* unused);

// Temporary files the crash handler removes. Names live in preallocated
// slots; adding and dropping happen with signals blocked, so the handler
// never sees a half-written slot.
void registerTempFile(const std::string& path);
void unregisterTempFile(const std::string& path);

// What kivrel is doing, for the crash message: the filter callback being
// called and the frame it works on (-1: none yet).
class CallbackScope {
public:
    CallbackScope(const char* callback, int64_t frame);
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

private:
    const char* previous_;
};
