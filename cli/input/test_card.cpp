// The built-in test card as an input: one still picture.
#include "pluginhost/test_card.h"
#include "input/readers.h"

namespace {

class TestCardReader final : public Reader {
public:
    TestCardReader(int32_t w, int32_t h) {
        info_.name = "the test card";
        info_.w = w;
        info_.h = h;
        info_.still = true;
        info_.frameCount = 1;
    }

    Status read(FrameBuffer& frame, ReadFrame& meta) override {
        meta = {};
        if (done_) {
            meta.end = true;
            return {};
        }
        if (bands_) {
            card_ = FrameBuffer(info_.w, info_.h, kBytesPerPixel * static_cast<ptrdiff_t>(info_.w));
            fillTestCard(card_.frame());
        } else {
            fillTestCard(frame.frame());
        }
        done_ = true;
        return {};
    }

    Status readAgain(FrameBuffer& frame, RgbLevels) override {
        fillTestCard(frame.frame());
        return {};
    }

    // One picture for every level: RGB as it is.
    void convertInBands(const std::vector<RgbLevels>&) override { bands_ = true; }
    void convertRows(RgbLevels, int32_t first, const Frame& rows) const override {
        copyRows(card_, first, rows);
    }

private:
    bool done_ = false, bands_ = false;
    FrameBuffer card_;
};

}  // namespace

Status openTestCardReader(const ReaderParams& params, std::unique_ptr<Reader>& reader) {
    if (!params.start.atBeginning()) return startPastStill("the test card", params.start);
    reader = std::make_unique<TestCardReader>(params.cardWidth > 0 ? params.cardWidth : kTestCardWidth,
                                              params.cardHeight > 0 ? params.cardHeight : kTestCardHeight);
    return {};
}
