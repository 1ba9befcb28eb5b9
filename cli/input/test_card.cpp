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
        fillTestCard(frame.frame());
        done_ = true;
        return {};
    }

    Status readAgain(FrameBuffer& frame, RgbLevels) override {
        fillTestCard(frame.frame());
        return {};
    }

private:
    bool done_ = false;
};

}  // namespace

Status openTestCardReader(const ReaderParams& params, std::unique_ptr<Reader>& reader) {
    if (!params.start.atBeginning())
        return Status::fail("the test card is a still picture: --start " + params.start.text +
                            " is past its only frame");
    reader = std::make_unique<TestCardReader>(params.cardWidth > 0 ? params.cardWidth : kTestCardWidth,
                                              params.cardHeight > 0 ? params.cardHeight : kTestCardHeight);
    return {};
}
