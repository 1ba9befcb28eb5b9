// One frame as one picture file: .png, .jpg, .bmp, .tif ...
#include "output/encoder.h"
#include "output/writers.h"

namespace {

class StillWriter final : public Writer {
public:
    explicit StillWriter(std::string path) : path_(std::move(path)) {}

    Status open(const WriterSettings& settings) {
        if (Status s = encoder_.openForPictures(path_, settings); !s.ok()) return s;
        return file_.create(path_, settings);  // fail early if the name is taken
    }

    Status write(const FrameBuffer& frame, int64_t) override {
        if (written_)
            return Status::fail(path_ +
                                " holds one picture, but the input gives more than one frame; name an "
                                "image sequence (name_%04d.png) or a video, or add -frames 1");
        if (Status s = encoder_.writePicture(frame, 0, file_); !s.ok()) return s;
        written_ = true;
        return {};
    }

    Status finish() override { return file_.commit(); }
    Status finishPartial(int64_t& kept) override {
        kept = written_ ? 1 : 0;
        return written_ ? file_.commit() : Status();
    }
    std::string destination() const override { return path_; }

private:
    std::string path_;
    FrameEncoder encoder_;
    PendingFile file_;
    bool written_ = false;
};

}  // namespace

Status claimsImage(const std::string& path, bool& claimed) {
    claimed = hasImageExtension(path);
    return {};
}

Status openStillWriter(const std::string& path, const WriterSettings& settings,
                       std::unique_ptr<Writer>& writer) {
    auto w = std::make_unique<StillWriter>(path);
    if (Status s = w->open(settings); !s.ok()) return s;
    writer = std::move(w);
    return {};
}
