// Small media made and read back by the tests themselves, through FFmpeg's
// libraries but none of the host's code: lossless clips of a known pattern,
// stills, and a decoder that turns any output back into pictures.
#pragma once

#include <cstdint>
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
// An RGB PNG.
std::string writeStill(const std::string& path, const Image& img);

struct Decoded {
    std::vector<Image> frames;  // 0x00RRGGBB, top-down
    int fpsNum = 0, fpsDen = 1;
    std::string codec;
    std::string error;  // empty when the whole file decoded cleanly
};
Decoded decodeFile(const std::string& path);

// File offset and size of each video packet, in file order.
struct PacketSpan {
    int64_t pos;
    int size;
};
std::vector<PacketSpan> packetSpans(const std::string& path);
