#include "run/write.h"

#include <signal.h>

#include <string>

#include "os/signals.h"
#include "vocabulary.h"

namespace {

// A reader at the other end of the output that closed it (`head -c`) is
// no failure of the run's, but what went down before should be said.
std::string readerClosed(const Writer& writer) {
    const Writer::Sent sent = writer.sent();
    const std::string closed = "the reader of " + writer.destination() + " closed the pipe";
    if (sent.frames > 0 || sent.bytes > 0) {
        std::string went = sent.frames >= 0
                               ? std::to_string(sent.frames) + (sent.frames == 1 ? " frame" : " frames")
                               : std::to_string(sent.bytes) + " bytes";
        if (sent.frames >= 0 && sent.bytes >= 0) went += " (" + std::to_string(sent.bytes) + " bytes)";
        return closed + " after " + went + " had gone down it; the rest is not written";
    }
    return closed + " before anything went down it; nothing written";
}

// Whether the run stopped because the output's reader went away.
bool pipeClosed(const Writer* writer) {
    if (writer == nullptr || pendingSignal() != SIGPIPE) return false;
    const Writer::Sent sent = writer->sent();
    return sent.frames >= 0 || sent.bytes >= 0;
}

}  // namespace

int runFailed(const Status& s, const Writer* writer) {
    if (const int sig = pendingSignal(); sig != 0) {
        logLine(pipeClosed(writer) ? readerClosed(*writer) : interruptedBy(sig) + "; nothing written");
        return exitStatusForSignal(sig);
    }
    logLine(s.message());
    return s.isUsage() ? kExitUsage : kExitFailure;
}

void WriteSink::warn(const std::vector<std::string>& damage) {
    progress_.finish();
    FrameSink::warn(damage);
}

Status WriteSink::take(const RenderedFrame& f) {
    const ReadFrame& meta = f.item.meta;
    if (verifier_ != nullptr)
        if (Status s = verifier_->check(*f.output, meta.number); !s.ok()) return s;
    const auto t0 = Timing::Clock::now();
    if (written_ == 0) firstPts_ = meta.pts;
    if (Status s = writer_.writeTimed(*f.output, meta.number, meta.pts - firstPts_); !s.ok()) return s;
    t_.encode += Timing::since(t0);
    progress_.update(++written_);
    return {};
}

int stopped(const Options& options, Writer& writer, const Status& s) {
    const int sig = pendingSignal();
    const std::string why = sig != 0 ? interruptedBy(sig) : s.message();
    const int status = sig != 0 ? exitStatusForSignal(sig) : kExitFailure;
    if (pipeClosed(&writer)) {  // nothing more can go down it, a partial ending neither
        logLine(readerClosed(writer));
        return status;
    }
    if (!options.keepPartial) {
        logLine(sig != 0 ? why + "; nothing written" : why);
        return status;
    }
    int64_t kept = 0;
    if (Status k = writer.finishPartial(kept); !k.ok()) {
        logLine(why + "; keeping the finished frames failed too: " + k.message());
        return status;
    }
    logLine(why + "; kept " + std::to_string(kept) + " finished frame" + (kept == 1 ? "" : "s") +
            (kept > 0 ? " in " + writer.destination() : ""));
    return status;
}
