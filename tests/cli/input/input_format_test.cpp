// An input that names its format: FFmpeg's demuxers are there from the
// start, its capture devices only once an input asks for one.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "input/input.h"

namespace {

bool devicesMapped() {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return text.find("libavdevice.so") != std::string::npos;
}

TEST(InputFormat, CaptureDevicesLoadWhenAnInputNamesOne) {
    // No other test asks for a device: until this one does, they are not in the process.
    ASSERT_FALSE(devicesMapped());
    ReaderParams params;
    std::unique_ptr<Reader> reader;
    // A demuxer's name is found without them (the file itself is missing).
    params.inputFormat = "mpegts";
    params.path = "no-such-file.ts";
    EXPECT_FALSE(openReader(kMediaReaderName, params, reader).isUsage());
    EXPECT_FALSE(devicesMapped());

    params.inputFormat = "no-such-format";
    const Status unknown = openReader(kMediaReaderName, params, reader);
    EXPECT_TRUE(unknown.isUsage()) << unknown.message();
    EXPECT_NE(unknown.message().find("no-such-format: FFmpeg has no input format or capture device"),
              std::string::npos)
        << unknown.message();

    // lavfi is one of the devices: a filter graph read as a source.
    params.inputFormat = "lavfi";
    params.path = "testsrc2=size=40x24:rate=5:duration=1";
    const Status opened = openReader(kMediaReaderName, params, reader);
    ASSERT_TRUE(opened.ok()) << opened.message();
    EXPECT_TRUE(devicesMapped());
    EXPECT_EQ(reader->info().w, 40);
    EXPECT_EQ(reader->info().h, 24);
    int frames = 0;
    for (;;) {
        ReadFrame meta;
        ASSERT_TRUE(reader->read(meta).ok());
        if (meta.end) break;
        ++frames;
    }
    EXPECT_EQ(frames, 5);
}

}  // namespace
