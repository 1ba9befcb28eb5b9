// Runs the filter and keeps nothing: for timing, or with --verify alone.
#include "output/writers.h"

namespace {

class NullWriter final : public Writer {
public:
    Status write(const FrameBuffer&, int64_t) override { return {}; }
    Status finish() override { return {}; }
    Status finishPartial(int64_t& kept) override {
        kept = 0;
        return {};
    }
    std::string destination() const override { return {}; }
};

}  // namespace

Status openNullWriter(const std::string&, const WriterSettings&, std::unique_ptr<Writer>& writer) {
    writer = std::make_unique<NullWriter>();
    return {};
}
