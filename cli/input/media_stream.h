// What a container says of its video stream beyond what FFmpeg's context
// fields hold: whether it runs live, holds one picture, is to be turned,
// and where it ends.
#pragma once

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

// A capture device or a network stream: it runs on whether read or not.
bool isLive(const AVFormatContext& format, const std::string& url);
// An image demuxer reading one picture (not a numbered sequence).
bool isStillFormat(const AVInputFormat* fmt, const std::string& path);
// Degrees clockwise (0, 90, 180 or 270) players turn the picture by, as the
// stream's display matrix says; 0 without one.
int displayRotation(const AVStream& stream);
// Where the container says the stream ends, in seconds from the file's
// zero, or < 0 when it says nothing worth trusting.
double statedEndSeconds(const AVFormatContext& fmt, const AVStream& stream);
