#include "run/pipeline.h"

#include "os/signals.h"
#include "vocabulary.h"

void FrameSink::warn(const std::vector<std::string>& damage) {
    for (const std::string& d : damage) logLine(d);
}

RenderedFrame ReadingSource::next() {
    RenderedFrame f;
    f.item = reading_.next(unused_);
    return f;
}

Status flowFrames(FrameSource& source, FrameSink& sink, RunCounts& n, Timing& t) {
    for (;;) {
        if (pendingSignal() != 0) return Status::fail("interrupted");
        const RenderedFrame f = source.next();
        t.decode += f.item.decodeSeconds;
        t.filter += f.filterSeconds;
        n.skipped = f.item.skipped;
        if (!f.item.damage.empty()) sink.warn(f.item.damage);
        if (f.item.kind == SourceItem::Kind::Failed) return f.item.status;
        if (f.item.kind == SourceItem::Kind::End) {
            n.cutShort = f.item.cutShort;
            n.cutAfter = f.item.lastGood;
            sink.end(f.item);
            return {};
        }
        if (Status s = sink.take(f); !s.ok()) return s;
        ++n.frames;
        if (!sink.wantsMore()) return {};
    }
}
