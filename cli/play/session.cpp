#include "play/session.h"

#include "os/signals.h"
#include "pluginhost/script_call.h"
#include "run/filter_setup.h"
#include "run/read_rules.h"
#include "vocabulary.h"

namespace {

Status readArgs(FilterInstance& inst, ConfigArgs& args) {
    const std::string line = inst.scriptLine();
    if (!configArgsOfLine(line, args))
        return Status::fail(
            "the filter saves no script line the viewer can read, so its keys cannot change "
            "settings: '" +
            line + "'");
    return {};
}

// Where to read from: the command line's -ss the first time, then a frame
// by its time, which seeks (a frame number would decode from the start).
StartPoint startAt(const Options& options, const SourceInfo& probe, int64_t from) {
    if (from < 0) return options.start;
    StartPoint p;
    if (from == 0) return p;
    if (probe.frameRate.num <= 0 || probe.frameRate.den <= 0) {
        p.frame = from;
    } else {
        p.isTime = true;
        p.seconds = probe.timeline().secondsBeforeFrame(from);
    }
    p.text = std::to_string(from) + "f";
    return p;
}

}  // namespace

// Frames decoded ahead of the one shown: enough to ride over a slow one.
constexpr int kFramesAhead = 3;

PlaySession::~PlaySession() = default;

Status PlaySession::open(const FilterModuleHost& module, const Options& options, int64_t from) {
    const std::string_view readerName = options.input.empty() ? kTestCardReaderName : kMediaReaderName;
    ReaderParams params = readerParams(options, options.input);
    {
        // The rate and the length are the whole input's, known once it is open.
        ReaderParams whole = params;
        whole.start = {};
        std::unique_ptr<Reader> probe;
        if (Status s = openReader(readerName, whole, probe); !s.ok()) return s;
        if (probe->info().live) {
            // Nothing to seek in, and what a second opening would wait
            // for is what this one has already received.
            if (!options.start.atBeginning())
                return Status::usage(probe->info().name + ": a live source cannot start at -ss");
            reader_ = std::move(probe);
        } else {
            if (from >= 0) params.start = startAt(options, probe->info(), from);
            lastFrame_ = probe->info().still ? 0 : probe->info().frameCount - 1;
        }
    }
    if (!reader_)
        if (Status s = openReader(readerName, params, reader_); !s.ok()) return s;
    const SourceInfo& src = reader_->info();

    scopes_ = std::make_unique<ScopeRenderer>(module);
    if (Status s = scopes_->configure(options); !s.ok()) return s;
    if (Status s = scopes_->followInput(options, src); !s.ok()) return s;
    if (Status s = readArgs(scopes_->instance(), args_); !s.ok()) return s;
    everyFrame_ = args_[kArgAccum] != 0;
    // One frame at a time: the viewer renders what it shows, when it shows it.
    converter_ = std::make_unique<FrameConverter>(src, options.threads);
    if (Status s = scopes_->prepare(options, *reader_, *converter_, 1); !s.ok()) return s;
    if (Status s = scopes_->start(options, src, 1); !s.ok()) return s;
    const FrameBuffer& shape = scopes_->source();
    ReadRules rules;
    rules.skipErrors = options.skipErrors;
    reading_.emplace(*reader_, *converter_, rules, shape.w(), shape.h(), shape.pitch(),
                     scopes_->readsEachFrameTwice() ? 0 : kFramesAhead);
    return {};
}

void PlaySession::cancel() {
    if (reading_) reading_->cancel();
}

RenderedFrame PlaySession::next(const std::function<bool(const ReadFrame&)>& wanted) {
    RenderedFrame f;
    FrameBuffer* frame = nullptr;
    f.item = reading_->next(frame);
    if (f.item.kind != SourceItem::Kind::Frame) return f;
    if (!wanted(f.item.meta) && !everyFrame_) return f;
    scopes_->take(0, *frame);
    renderTaken(*scopes_, 0, f);
    return f;
}
