// The media reader the input table opens: a MediaReader that starts over
// when frame threads lose track of damage or a seek cannot find the start.
#include <sys/stat.h>

#include <atomic>
#include <memory>

#include "input/media_reader.h"
#include "input/readers.h"
#include "os/av_support.h"

namespace {

// Reads with frame threads while the file is clean. At the first damage it
// starts over with slice threads, which pin each message on its frame, and
// passes over what it has already handed on: every frame handed on before
// was decoded without a single logged error, so the run goes on exactly as
// a slice-threaded one would have.
class ResumingReader final : public Reader {
public:
    Status open(const ReaderParams& params) {
        params_ = params;
        struct stat st {};
        // Only a file can be read a second time.
        const bool file = params.path != "-" && ::stat(params.path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        inner_ = std::make_unique<MediaReader>(cancelled_);
        frameThreads_ = file;
        if (Status s = inner_->open(params, file); !s.ok()) return s;
        info_ = inner_->info();
        return {};
    }

    Status read(ReadFrame& meta) override {
        for (;;) {
            if (Status s = inner_->read(meta); !s.ok()) return s;
            if (inner_->lostTrack() || inner_->wantsStartOver()) {
                const bool frameThreads = inner_->wantsStartOver() && frameThreads_;
                if (inner_->wantsStartOver()) params_.seek = false;
                inner_ = std::make_unique<MediaReader>(cancelled_);
                takeLibraryMessage();  // logged by the threads; the slice decoder logs its own
                frameThreads_ = frameThreads;
                if (Status s = inner_->open(params_, frameThreads); !s.ok()) return s;
                passOver_ = handedOn_;
                continue;
            }
            if (meta.end) return {};
            if (passOver_ > 0) {
                --passOver_;
                continue;
            }
            ++handedOn_;
            return {};
        }
    }

    const DecodedPicture& picture() const override { return inner_->picture(); }
    void cancel() override { cancelled_ = true; }

private:
    ReaderParams params_;
    std::unique_ptr<MediaReader> inner_;
    int64_t handedOn_ = 0, passOver_ = 0;  // frames and damaged ones, as read() gave them
    bool frameThreads_ = false;            // the reader's now
    std::atomic<bool> cancelled_{false};
};

}  // namespace

Status openMediaReader(const ReaderParams& params, std::unique_ptr<Reader>& reader) {
    auto media = std::make_unique<ResumingReader>();
    if (Status s = media->open(params); !s.ok()) return s;
    reader = std::move(media);
    return {};
}
