// The hash a run is checked by: one line per output frame, "frame,pts,md5".
// The MD5 covers the frame's w x h pixels as 32-bit little-endian 0x00RRGGBB
// words (the top byte cleared), rows top to bottom, row padding left out, so
// the pitch cannot change it and a written file's decoded pixels (as bgr0)
// hash to the same line.
// `frame` counts output frames from 0; `pts` is the frame's number in the
// source (its presentation time in frames of the source's rate).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"

struct AVMD5;

struct HashLine {
    int64_t frame = 0;
    int64_t pts = 0;
    std::string md5;  // 32 lowercase hex digits
};

std::string formatHashLine(const HashLine& line);  // no newline
// False unless the text is exactly "frame,pts,md5" with 32 hex digits.
bool parseHashLine(std::string_view text, HashLine& line);

// An MD5 over bytes fed in pieces, as 32 lowercase hex digits; start()
// begins another.
class Md5 {
public:
    Md5() = default;
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;
    ~Md5();

    Status open();
    void start();
    void add(const uint8_t* bytes, size_t size);
    std::string hex();

private:
    AVMD5* md5_ = nullptr;
};

class FrameHasher {
public:
    FrameHasher() = default;
    FrameHasher(const FrameHasher&) = delete;
    FrameHasher& operator=(const FrameHasher&) = delete;

    Status open();
    std::string md5(const FrameBuffer& frame);

private:
    Md5 md5_;
    std::vector<uint8_t> row_;  // one row in the hashed form, reused
};
