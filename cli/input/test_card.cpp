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

    Status read(ReadFrame& meta) override {
        meta = {};
        if (done_) {
            meta.end = true;
            return {};
        }
        card_ = FrameBuffer(info_.w, info_.h, kBytesPerPixel * static_cast<ptrdiff_t>(info_.w));
        fillTestCard(card_.frame());
        picture_.levels = info_.levels;
        picture_.rgb = &card_;
        done_ = true;
        return {};
    }

    const DecodedPicture& picture() const override { return picture_; }

private:
    bool done_ = false;
    FrameBuffer card_;  // one picture for every level: RGB as it is
    DecodedPicture picture_;
};

}  // namespace

Status openTestCardReader(const ReaderParams& params, std::unique_ptr<Reader>& reader) {
    if (!params.start.atBeginning()) return startPastStill("the test card", params.start);
    reader = std::make_unique<TestCardReader>(params.cardWidth > 0 ? params.cardWidth : kTestCardWidth,
                                              params.cardHeight > 0 ? params.cardHeight : kTestCardHeight);
    return {};
}
