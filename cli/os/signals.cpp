#include "os/signals.h"

#include <cerrno>

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "vocabulary.h"

namespace {

constexpr int kTerminating[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};
constexpr int kCrashing[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kSlotsPerBlock = 256;  // a block holds a sequence's worth of pending frames
constexpr size_t kMaxBlocks = 256;      // 65536 pending files; more go unregistered
// Room for the handler's own stack, so a stack overflow in a callback is still reported.
constexpr size_t kAltStackBytes = 64 * 1024;

volatile sig_atomic_t received = 0;
// The wake-up pipe's ends; the handler writes to the second.
int wake[2] = {-1, -1};

// Slots, written only with signals blocked; the handler reads them.
struct Slot {
    char path[PATH_MAX];
    volatile sig_atomic_t used;
};
// Allocated (with signals blocked) before a slot is taken; never freed, and
// plain pointers so that nothing runs at exit.
Slot* blocks[kMaxBlocks] = {};
size_t blockCount = 0;

std::atomic<const char*> currentCallback{nullptr};
std::atomic<int64_t> currentFrame{-1};

class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &saved_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

void removeTempFiles() {
    for (size_t b = 0; b < blockCount; ++b)
        for (size_t i = 0; i < kSlotsPerBlock; ++i)
            if (blocks[b][i].used) ::unlink(blocks[b][i].path);
}

// write(2) pieces: no stdio, no allocation.
void put(const char* text) {
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void putNumber(int64_t n) {
    char digits[24];
    size_t k = sizeof digits;
    digits[--k] = 0;
    const bool negative = n < 0;
    uint64_t v = negative ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    do {
        digits[--k] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && k > 1);
    if (negative && k > 0) digits[--k] = '-';
    put(digits + k);
}

const char* crashName(int sig) {
    switch (sig) {
    case SIGSEGV: return "SIGSEGV (invalid memory access)";
    case SIGBUS: return "SIGBUS (bus error)";
    case SIGILL: return "SIGILL (illegal instruction)";
    case SIGFPE: return "SIGFPE (arithmetic fault)";
    case SIGABRT: return "SIGABRT (aborted)";
    default: return "a crash signal";
    }
}

void onTerminate(int sig) {
    const int saved = errno;  // the interrupted code may be about to read it
    if (received == 0) received = sig;
    if (wake[1] >= 0) {
        // Non-blocking: a full pipe is already readable.
        const char byte = 1;
        const ssize_t ignored = ::write(wake[1], &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

void onCrash(int sig) {
    removeTempFiles();
    put("kivrel: ");
    put(crashName(sig));
    const char* callback = currentCallback.load();
    const int64_t frame = currentFrame.load();
    if (callback != nullptr) {
        put(" in the filter's ");
        put(callback);
    }
    if (frame >= 0) {
        put(" at frame ");
        putNumber(frame);
    }
    put("; temporary files removed\n");
    // SA_RESETHAND restored the default action; the signal is delivered on return.
    ::raise(sig);
}

}  // namespace

void installSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    static std::vector<char> altStack(kAltStackBytes);
    stack_t st{};
    st.ss_sp = altStack.data();
    st.ss_size = altStack.size();
    ::sigaltstack(&st, nullptr);
    // Without it (out of descriptors) only the flag tells; signalWakeFd() says -1.
    if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) wake[0] = wake[1] = -1;

    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a blocked read or open returns EINTR, and FFmpeg's
    // retry loop then asks the interrupt callback.
    sa.sa_flags = 0;
    sa.sa_handler = onTerminate;
    for (int sig : kTerminating) ::sigaction(sig, &sa, nullptr);
    sa.sa_flags = SA_RESETHAND | SA_ONSTACK;
    sa.sa_handler = onCrash;
    for (int sig : kCrashing) ::sigaction(sig, &sa, nullptr);
}

int pendingSignal() { return received; }

int signalWakeFd() { return wake[0]; }

int exitStatusForSignal(int signal) { return kExitSignalBase + signal; }

std::string interruptedBy(int signal) {
    const char* name = ::sigabbrev_np(signal);
    return "interrupted by " +
           (name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(signal));
}

int interruptRequested(void*) { return received != 0 ? 1 : 0; }

void registerTempFile(const std::string& path) {
    if (path.size() >= PATH_MAX) return;  // the OS would refuse such a name anyway
    const SignalsBlocked blocked;
    for (size_t b = 0; b < blockCount; ++b)
        for (size_t i = 0; i < kSlotsPerBlock; ++i)
            if (!blocks[b][i].used) {
                std::memcpy(blocks[b][i].path, path.c_str(), path.size() + 1);
                blocks[b][i].used = 1;
                return;
            }
    if (blockCount == kMaxBlocks) return;  // the writer's own cleanup still removes it
    Slot* block = new Slot[kSlotsPerBlock]();
    std::memcpy(block[0].path, path.c_str(), path.size() + 1);
    block[0].used = 1;
    blocks[blockCount++] = block;
}

void unregisterTempFile(const std::string& path) {
    const SignalsBlocked blocked;
    for (size_t b = 0; b < blockCount; ++b)
        for (size_t i = 0; i < kSlotsPerBlock; ++i)
            if (blocks[b][i].used && path == blocks[b][i].path) {
                blocks[b][i].used = 0;
                return;
            }
}

CallbackScope::CallbackScope(const char* callback, int64_t frame) : previous_(currentCallback.load()) {
    currentFrame.store(frame);
    currentCallback.store(callback);
}

CallbackScope::~CallbackScope() { currentCallback.store(previous_); }
