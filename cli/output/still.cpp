// One frame as one picture file: .png, .jpg, .bmp, .tif ...
#include "output/encoder.h"
#include "output/writers.h"

namespace {

class StillWriter final : public Writer {
public:
    StillWriter(std::string path, bool overwrite) : path_(std::move(path)), overwrite_(overwrite) {}

    Status open(const WriterSettings& settings) {
        if (Status s = encoder_.openForPictures(path_, settings); !s.ok()) return s;
        return file_.create(path_, overwrite_);  // fail early if the name is taken
    }

    Status write(const FrameBuffer& frame, int64_t) override {
        if (written_)
            return Status::fail(path_ +
                                " holds one picture; name an image sequence (name_%04d.png) or a video");
        written_ = true;
        return encoder_.writePicture(frame, 0, file_);
    }

    Status finish() override { return file_.commit(overwrite_); }
    std::string destination() const override { return path_; }

private:
    std::string path_;
    bool overwrite_;
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
    auto w = std::make_unique<StillWriter>(path, settings.overwrite);
    if (Status s = w->open(settings); !s.ok()) return s;
    writer = std::move(w);
    return {};
}
