// One picture file per frame, named by a %d pattern and numbered from 1 (or
// -start_number) in output order, as FFmpeg numbers an image sequence.
#include <vector>

#include "output/encoder.h"
#include "output/writers.h"

namespace {

class SequenceWriter final : public Writer {
public:
    explicit SequenceWriter(std::string pattern) : pattern_(std::move(pattern)) {}

    Status open(const WriterSettings& settings) {
        settings_ = settings;
        std::string first;
        if (Status s = expandPattern(pattern_, settings.startNumber, first); !s.ok() || first == pattern_)
            return Status::usage(pattern_ + ": an image sequence needs a %d pattern (name_%04d.png)");
        if (Status s = encoder_.openForPictures(pattern_, settings); !s.ok()) return s;
        // Every name the run will write, before the first frame is decoded.
        for (int64_t k = 0; k < settings.frames; ++k) {
            std::string name;
            if (Status s = expandPattern(pattern_, settings.startNumber + k, name); !s.ok()) return s;
            if (Status s = checkOutputName(name, settings); !s.ok())
                return Status::fail(s.message() + " (frame " + std::to_string(k + 1) + " of " +
                                    std::to_string(settings.frames) + " of the sequence " + pattern_ + ")");
        }
        return {};
    }

    Status write(const FrameBuffer& frame, int64_t) override {
        std::string name;
        const int64_t k = static_cast<int64_t>(files_.size());
        if (Status s = expandPattern(pattern_, settings_.startNumber + k, name); !s.ok()) return s;
        files_.push_back(std::make_unique<PendingFile>());
        if (Status s = files_.back()->create(name, settings_); !s.ok()) return s;
        if (Status s = encoder_.writePicture(frame, k, *files_.back()); !s.ok()) return s;
        ++completed_;
        return {};
    }

    // All the pictures or none of the new ones: a failed rename takes back
    // the names this run added.
    Status finish() override {
        if (files_.empty()) return {};
        if (Status s = flushFileSystemOf(*files_.front()); !s.ok()) return s;
        for (size_t k = 0; k < files_.size(); ++k) {
            if (Status s = files_[k]->commit(true); !s.ok()) {
                for (size_t j = 0; j < k; ++j) files_[j]->withdraw();
                return s;
            }
        }
        return {};
    }

    Status finishPartial(int64_t& kept) override {
        kept = 0;
        for (size_t k = 0; k < completed_; ++k) {
            if (Status s = files_[k]->commit(); !s.ok()) return s;
            ++kept;
        }
        // The picture the failure cut off goes (its temporary file with it),
        // so that destination() names the files kept, not the one begun.
        files_.resize(completed_);
        return {};
    }

    std::string destination() const override {
        if (files_.empty()) return pattern_;
        if (files_.size() == 1) return files_.front()->target();
        return files_.front()->target() + " ... " + files_.back()->target();
    }

private:
    std::string pattern_;
    WriterSettings settings_;
    FrameEncoder encoder_;
    std::vector<std::unique_ptr<PendingFile>> files_;
    size_t completed_ = 0;  // files_ written whole
};

}  // namespace

Status claimsSequence(const std::string& path, bool& claimed) {
    std::string probe;
    claimed = path.find('%') != std::string::npos && expandPattern(path, 0, probe).ok() && probe != path;
    if (claimed && !hasImageExtension(path))
        return Status::usage(path + ": a numbered sequence needs a picture type (name_%04d.png)");
    return {};
}

Status openSequenceWriter(const std::string& path, const WriterSettings& settings,
                          std::unique_ptr<Writer>& writer) {
    auto w = std::make_unique<SequenceWriter>(path);
    if (Status s = w->open(settings); !s.ok()) return s;
    writer = std::move(w);
    return {};
}
