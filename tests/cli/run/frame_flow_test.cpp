// The one loop through a command's frame flow: every frame reaches the
// sink in order, the damage read past is said before the frame or end it
// came with, the counts and times add up over every item, and a failure of
// either side stops the flow where it happens, as a sink that wants no more does.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "run/pipeline.h"

namespace {

// Hands out the items it was given, then asserts nothing more is asked.
class ScriptedSource final : public FrameSource {
public:
    std::deque<RenderedFrame> items;
    int pulled = 0;

    RenderedFrame next() override {
        ++pulled;
        if (items.empty()) {
            ADD_FAILURE() << "pulled past the end";
            return {};
        }
        RenderedFrame f = items.front();
        items.pop_front();
        return f;
    }
};

// What reached it, in order: "frame N", "warn TEXT", "end".
class RecordingSink final : public FrameSink {
public:
    std::vector<std::string> seen;
    int64_t failAt = -1;      // the frame number whose take fails
    int64_t lastWanted = -1;  // after taking this frame number it wants no more

    Status take(const RenderedFrame& f) override {
        seen.push_back("frame " + std::to_string(f.item.meta.number));
        if (f.item.meta.number == failAt) return Status::fail("sink failed");
        return {};
    }
    void warn(const std::vector<std::string>& damage) override {
        for (const std::string& d : damage) seen.push_back("warn " + d);
    }
    void end(const SourceItem&) override { seen.push_back("end"); }
    bool wantsMore() override {
        return lastWanted < 0 || seen.empty() || seen.back() != "frame " + std::to_string(lastWanted);
    }
};

RenderedFrame frameItem(int64_t number, double decode = 0, double filter = 0) {
    RenderedFrame f;
    f.item.kind = SourceItem::Kind::Frame;
    f.item.meta.number = number;
    f.item.decodeSeconds = decode;
    f.filterSeconds = filter;
    return f;
}

// A flow of `frames` scripted frames into a recording sink.
struct Flow {
    explicit Flow(int64_t frames) {
        for (int64_t k = 0; k < frames; ++k) source.items.push_back(frameItem(k));
    }
    Status run() { return flowFrames(source, sink, n, t); }

    ScriptedSource source;
    RecordingSink sink;
    RunCounts n;
    Timing t;
};

}  // namespace

TEST(FrameFlow, DamageComesBeforeItsItemAndTheCountsAddUpToTheEnd) {
    ScriptedSource source;
    source.items.push_back(frameItem(0, 0.5, 0.25));
    RenderedFrame afterDamage = frameItem(2, 0.5, 0.25);
    afterDamage.item.damage = {"frame 1 is damaged"};
    afterDamage.item.skipped = 1;
    source.items.push_back(afterDamage);
    RenderedFrame end;
    end.item.kind = SourceItem::Kind::End;
    end.item.decodeSeconds = 0.5;  // reading up to the cut took time too
    end.item.skipped = 1;
    end.item.cutShort = true;
    end.item.lastGood = "frame 2 at 0.080 s";
    end.item.damage = {"the input stops short"};
    source.items.push_back(end);

    RecordingSink sink;
    RunCounts n;
    Timing t;
    ASSERT_TRUE(flowFrames(source, sink, n, t).ok());
    EXPECT_EQ(sink.seen, (std::vector<std::string>{"frame 0", "warn frame 1 is damaged", "frame 2",
                                                   "warn the input stops short", "end"}));
    EXPECT_EQ(n.frames, 2);
    EXPECT_EQ(n.skipped, 1);
    EXPECT_TRUE(n.cutShort);
    EXPECT_EQ(n.cutAfter, "frame 2 at 0.080 s");
    EXPECT_DOUBLE_EQ(t.decode, 1.5);
    EXPECT_DOUBLE_EQ(t.filter, 0.5);
}

TEST(FrameFlow, AFailureOfEitherSideStopsTheFlowWhereItHappens) {
    {
        SCOPED_TRACE("the sink fails");
        Flow flow(3);
        flow.sink.failAt = 1;
        EXPECT_EQ(flow.run().message(), "sink failed");
        EXPECT_EQ(flow.source.pulled, 2);  // nothing read past the failed frame
        EXPECT_EQ(flow.n.frames, 1);       // only the frame taken whole counts
    }
    {
        SCOPED_TRACE("the source fails");
        ScriptedSource source;
        source.items.push_back(frameItem(0));
        RenderedFrame failed;
        failed.item.kind = SourceItem::Kind::Failed;
        failed.item.status = Status::fail("frame 1 is damaged; the input is damaged");
        failed.item.damage = {"said first"};
        source.items.push_back(failed);
        RecordingSink sink;
        RunCounts n;
        Timing t;
        const Status s = flowFrames(source, sink, n, t);
        EXPECT_EQ(s.message(), "frame 1 is damaged; the input is damaged");
        EXPECT_EQ(sink.seen, (std::vector<std::string>{"frame 0", "warn said first"}));  // no end
        EXPECT_EQ(n.frames, 1);
    }
}

// A sink that wants no more (a viewer paused) ends the flow after the frame
// it took, as the end would but without one: nothing more is read.
TEST(FrameFlow, ASinkThatWantsNoMoreStopsItAfterThatFrame) {
    Flow flow(4);
    flow.sink.lastWanted = 1;
    ASSERT_TRUE(flow.run().ok());
    EXPECT_EQ(flow.sink.seen, (std::vector<std::string>{"frame 0", "frame 1"}));
    EXPECT_EQ(flow.source.pulled, 2);
    EXPECT_EQ(flow.n.frames, 2);
}
