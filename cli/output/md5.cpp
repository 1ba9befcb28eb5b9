// The hash writer: one "frame,pts,md5" line per frame (frame_hash.h), into a
// file (.md5) or on standard output (-f md5 -o -), so a run can be compared
// with an earlier one by --verify or by diff.
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "output/frame_hash.h"
#include "output/pending_file.h"
#include "output/writers.h"

namespace {

constexpr std::string_view kMd5Extension = ".md5";

class Md5Writer final : public Writer {
public:
    Md5Writer(std::string path, const WriterSettings& settings)
        : path_(std::move(path)), settings_(settings) {}
    ~Md5Writer() override {
        if (out_ != nullptr && out_ != stdout) std::fclose(out_);
    }

    Status open() {
        if (Status s = hasher_.open(); !s.ok()) return s;
        if (path_ == kStdoutName) {
            out_ = stdout;
            stream_ = true;
            return {};
        }
        if (Status s = file_.create(path_, settings_); !s.ok()) return s;
        out_ = std::fopen(file_.temp().c_str(), "w");
        if (out_ == nullptr) return Status::fail("cannot write " + path_ + ": " + std::strerror(errno));
        stream_ = file_.direct();
        return {};
    }

    Status write(const FrameBuffer& frame, int64_t number) override {
        const std::string line = formatHashLine({written_++, number, hasher_.md5(frame)}) + "\n";
        if (std::fputs(line.c_str(), out_) == EOF) return failed();
        if (!stream_) return {};
        // A line at a time, so a reader sees each frame as it comes and a
        // closed pipe leaves a count of whole lines that went.
        if (std::fflush(out_) != 0) return failed();
        ++sent_.frames;
        sent_.bytes += static_cast<int64_t>(line.size());
        return {};
    }

    Sent sent() const override { return stream_ ? sent_ : Sent{}; }

    Status finish() override {
        if (out_ == stdout) return std::fflush(stdout) == 0 ? Status() : failed();
        const int r = std::fclose(out_);
        out_ = nullptr;
        if (r != 0) return failed();
        return file_.commit();
    }

    Status finishPartial(int64_t& kept) override {
        kept = written_;
        return finish();
    }

    std::string destination() const override { return path_ == kStdoutName ? kStdoutShown : path_; }

private:
    Status failed() const {
        return Status::fail("cannot write " + destination() + ": " + std::strerror(errno));
    }

    std::string path_;
    WriterSettings settings_;
    PendingFile file_;
    FILE* out_ = nullptr;
    FrameHasher hasher_;
    int64_t written_ = 0;
    bool stream_ = false;  // standard output, a FIFO ...: written directly
    Sent sent_{0, 0};      // there
};

}  // namespace

Status claimsMd5(const std::string& path, bool& claimed) {
    // Any case, as FFmpeg matches the other extensions.
    claimed = path.size() > kMd5Extension.size() &&
              ::strcasecmp(path.c_str() + path.size() - kMd5Extension.size(), kMd5Extension.data()) == 0;
    return {};
}

Status openMd5Writer(const std::string& path, const WriterSettings& settings,
                     std::unique_ptr<Writer>& writer) {
    auto w = std::make_unique<Md5Writer>(path, settings);
    if (Status s = w->open(); !s.ok()) return s;
    writer = std::move(w);
    return {};
}
