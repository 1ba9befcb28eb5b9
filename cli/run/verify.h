// --verify: compares a run, frame by frame, with the lines of a hash file
// (output/frame_hash.h) and stops at the first difference, naming the frame
// and what differs. A run with more or fewer frames than the file fails too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/frame_hash.h"

class Verifier {
public:
    // Reads and checks every line before the run starts.
    Status open(const std::string& path);
    // The next output frame, `pts` its number in the source.
    Status check(const FrameBuffer& frame, int64_t pts);
    // After the last frame: the file lists no more than the run gave.
    Status finish() const;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::vector<HashLine> lines_;
    size_t next_ = 0;
    FrameHasher hasher_;
};
