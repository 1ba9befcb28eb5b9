#include "run/verify.h"

#include <cerrno>
#include <cstring>
#include <fstream>

Status Verifier::open(const std::string& path) {
    path_ = path;
    if (Status s = hasher_.open(); !s.ok()) return s;
    std::ifstream in(path, std::ios::binary);
    if (!in) return Status::fail("--verify: cannot read " + path + ": " + std::strerror(errno));
    std::string text;
    for (int lineNumber = 1; std::getline(in, text); ++lineNumber) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.empty()) continue;
        HashLine line;
        if (!parseHashLine(text, line))
            return Status::fail(path + ":" + std::to_string(lineNumber) + ": not a frame,pts,md5 line: '" +
                                text + "'");
        if (line.frame != static_cast<int64_t>(lines_.size()))
            return Status::fail(path + ":" + std::to_string(lineNumber) + ": frame " +
                                std::to_string(lines_.size()) + " expected, the line has frame " +
                                std::to_string(line.frame));
        lines_.push_back(line);
    }
    if (in.bad()) return Status::fail("--verify: cannot read " + path + ": " + std::strerror(errno));
    return {};
}

Status Verifier::check(const FrameBuffer& frame, int64_t pts) {
    const std::string where = "--verify " + path_ + ": frame " + std::to_string(next_);
    if (next_ >= lines_.size())
        return Status::fail(where + " is not in the file, which lists " + std::to_string(lines_.size()) +
                            " frames");
    const HashLine& want = lines_[next_++];
    if (pts != want.pts)
        return Status::fail(where + " differs: pts " + std::to_string(pts) + ", the file has " +
                            std::to_string(want.pts));
    const std::string md5 = hasher_.md5(frame);
    if (md5 != want.md5) return Status::fail(where + " differs: md5 " + md5 + ", the file has " + want.md5);
    return {};
}

Status Verifier::finish() const {
    if (next_ < lines_.size())
        return Status::fail("--verify " + path_ + ": the run gave " + std::to_string(next_) +
                            " frames, the file lists " + std::to_string(lines_.size()));
    return {};
}
