// Small media made and read back by the tests themselves, through FFmpeg's
// libraries but not the host's reader or writers: lossless clips of a known pattern,
// and a decoder that turns any output back into pictures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/image.h"

// A picture that differs in every frame and is not symmetric in x or y, so
// a flipped, shifted or swapped frame cannot pass for the right one.
Image patternFrame(int32_t w, int32_t h, int frame);
std::vector<Image> patternClip(int32_t w, int32_t h, int frames);

// FFV1 (RGB, slice checksums on) in the container the extension names.
// Returns "" or the problem.
std::string writeClip(const std::string& path, const std::vector<Image>& frames, int fps);

// A clip with whatever the test needs of its metadata: FFV1 in the
// container the extension names, yuv444p (or yuv420p, or 0RGB32 with `rgb`).
struct ClipPlan {
    int w = 16, h = 16;
    std::vector<int64_t> pts = {0};  // one frame each, in timeBase
    int tbNum = 1, tbDen = 10;
    int fps = 10;                   // the rate the container states (Matroska's frame duration); 0: none
    int colorspace = 2, range = 0;  // AVColorSpace, AVColorRange: unspecified
    int sarNum = 0, sarDen = 1;     // 0: not stated
    int rotation = 0;               // degrees clockwise players turn it (a display matrix)
    bool rgb = false;
    bool chroma420 = false;  // yuv420p, each 2x2 block taking its top left pixel's chroma
    bool checksums = false;  // slice checksums, so that damage shows (not in QuickTime)
    // 0x00YYUUVV (or 0x00RRGGBB) of a pixel.
    uint32_t (*pixel)(int frame, int x, int y) = nullptr;
};
std::string writePlannedClip(const std::string& path, const ClipPlan& plan);

struct PacketSpan {
    int64_t pos;  // file offset
    int size;
};
struct Decoded {
    std::vector<Image> frames;        // 0x00RRGGBB, top-down
    std::vector<PacketSpan> packets;  // in file order
    int fpsNum = 0, fpsDen = 1;
    std::vector<double> times;  // of the frames, in seconds from the first
    int sarNum = 0, sarDen = 1;
    std::string codec;
    std::string error;  // empty when the whole file decoded cleanly
};
Decoded decodeFile(const std::string& path);

// Names the first differing pixel of `got` and `want & mask`.
::testing::AssertionResult samePicture(const Image& got, const Image& want, uint32_t mask = 0xFFFFFF);

// What ffprobe, a tool apart from the libraries the host and these helpers
// use, says of each file in `dir`: the first video stream's codec and how
// many frames it decodes ("" and -1 where it reads none). One shell for all
// the files, so that a sweep costs one process start per file, not two.
struct Probed {
    std::string codec;
    int frames = -1;
};
std::map<std::string, Probed> probeFiles(const std::string& dir, const std::vector<std::string>& names);
