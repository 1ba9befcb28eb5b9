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

Status processFrames(WriteStage& run) {
    RunCounts& n = run.n;
    for (;;) {
        if (pendingSignal() != 0) return Status::fail("interrupted");
        const RenderedFrame f = run.flow.next();
        run.t.decode += f.item.decodeSeconds;
        run.t.filter += f.filterSeconds;
        n.skipped = f.item.skipped;
        if (!f.item.damage.empty()) {
            run.progress.finish();  // the warnings stand alone; the line comes back with the next frame
            for (const std::string& d : f.item.damage) logLine(d);
        }
        if (f.item.kind == SourceItem::Kind::Failed) return f.item.status;
        if (f.item.kind == SourceItem::Kind::End) {
            n.cutShort = f.item.cutShort;
            n.cutAfter = f.item.lastGood;
            return {};
        }
        const ReadFrame& meta = f.item.meta;
        if (run.verifier != nullptr)
            if (Status s = run.verifier->check(*f.output, meta.number); !s.ok()) return s;
        const auto t3 = Timing::Clock::now();
        if (!run.started) {
            run.firstPts = meta.pts;
            run.started = true;
        }
        if (Status s = run.writer.writeTimed(*f.output, meta.number, meta.pts - run.firstPts); !s.ok())
            return s;
        run.t.encode += Timing::since(t3);
        ++n.frames;
        run.progress.update(n.frames);
    }
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
