// A frame's timecode, counted on from the source's start timecode at its
// frame rate, as an edit suite reads it.
#pragma once

#include <cstdint>
#include <string>

// The timecode of the frame `frames` after the one `start` ("HH:MM:SS:FF",
// or with ';' before the frames for drop-frame counting) names, at `fps`
// frames a second; "" when `start` is not such a timecode. Drop-frame
// counting (29.97 and 59.94 only) leaves out the first frame numbers of each
// minute but every tenth, and the day wraps at 24 hours.
std::string timecodeAt(const std::string& start, double fps, int64_t frames);
