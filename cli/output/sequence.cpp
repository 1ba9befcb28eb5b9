// One picture file per frame, named by a %d pattern and the frame's number
// in the source (name_%04d.png).
#include <vector>

#include "output/encoder.h"
#include "output/writers.h"

namespace {

class SequenceWriter final : public Writer {
public:
    SequenceWriter(std::string pattern, bool overwrite)
        : pattern_(std::move(pattern)), overwrite_(overwrite) {}

    Status open(const WriterSettings& settings) {
        std::string first;
        if (Status s = expandPattern(pattern_, 0, first); !s.ok() || first == pattern_)
            return Status::fail(pattern_ + ": an image sequence needs a %d pattern (name_%04d.png)");
        return encoder_.openForPictures(pattern_, settings);
    }

    Status write(const FrameBuffer& frame, int64_t number) override {
        std::string name;
        if (Status s = expandPattern(pattern_, number, name); !s.ok()) return s;
        files_.push_back(std::make_unique<PendingFile>());
        if (Status s = files_.back()->create(name, overwrite_); !s.ok()) return s;
        return encoder_.writePicture(frame, written_++, *files_.back());
    }

    Status finish() override {
        for (auto& file : files_)
            if (Status s = file->commit(overwrite_); !s.ok()) return s;
        return {};
    }

    std::string destination() const override {
        if (files_.empty()) return pattern_;
        if (files_.size() == 1) return files_.front()->target();
        return files_.front()->target() + " ... " + files_.back()->target();
    }

private:
    std::string pattern_;
    bool overwrite_;
    FrameEncoder encoder_;
    std::vector<std::unique_ptr<PendingFile>> files_;
    int64_t written_ = 0;
};

}  // namespace

Status claimsSequence(const std::string& path, bool& claimed) {
    std::string probe;
    claimed = path.find('%') != std::string::npos && expandPattern(path, 0, probe).ok();
    if (claimed && !hasImageExtension(path))
        return Status::fail(path + ": a numbered sequence needs a picture type (name_%04d.png)");
    return {};
}

Status openSequenceWriter(const std::string& path, const WriterSettings& settings,
                          std::unique_ptr<Writer>& writer) {
    auto w = std::make_unique<SequenceWriter>(path, settings.overwrite);
    if (Status s = w->open(settings); !s.ok()) return s;
    writer = std::move(w);
    return {};
}
