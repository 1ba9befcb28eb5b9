#include "input/media_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "input/rotation.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/display.h>
}

namespace {

// Protocols whose source runs in real time, whether read or not: what has
// gone by is gone, and there is nothing to seek in.
constexpr const char* kLiveProtocols[] = {"udp", "rtp", "srt", "rtsp", "rtmp", "tcp", "unix"};

constexpr double kMinutesPerHour = 60.0;
constexpr double kSecondsPerMinute = 60.0;

}  // namespace

bool isLive(const AVFormatContext& format, const std::string& url) {
    const AVClass* kind = format.iformat != nullptr ? format.iformat->priv_class : nullptr;
    if (kind != nullptr && AV_IS_INPUT_DEVICE(kind->category)) return true;
    if (format.iformat != nullptr &&
        std::any_of(std::begin(kLiveProtocols), std::end(kLiveProtocols),
                    [&](const char* p) { return std::strcmp(p, format.iformat->name) == 0; }))
        return true;  // rtp, rtsp: demuxers that do their own networking
    const char* protocol = avio_find_protocol_name(url.c_str());
    if (protocol == nullptr) return false;
    return std::any_of(std::begin(kLiveProtocols), std::end(kLiveProtocols),
                       [&](const char* p) { return std::strcmp(p, protocol) == 0; });
}

bool isStillFormat(const AVInputFormat* fmt, const std::string& path) {
    const std::string_view name = fmt->name;
    const bool imageDemuxer = name == "image2" || name.ends_with("_pipe");
    // image2 reads a numbered sequence when the name holds a pattern.
    return imageDemuxer && path.find('%') == std::string::npos;
}

// Degrees clockwise (0, 90, 180 or 270) players turn the picture by, as the
// stream's display matrix says; 0 without one.
int displayRotation(const AVStream& stream) {
    const uint8_t* matrix = nullptr;
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
    const AVPacketSideData* sd = av_packet_side_data_get(
        stream.codecpar->coded_side_data, stream.codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    if (sd != nullptr && sd->size >= 9 * static_cast<int>(sizeof(int32_t))) matrix = sd->data;
#else
    size_t size = 0;
    matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (size < 9 * sizeof(int32_t)) matrix = nullptr;
#endif
    if (matrix == nullptr) return 0;
    // Players turn by whole quarters.
    return quartersClockwise(av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix)));
}

// Where the container says the stream ends, in seconds from the file's
// zero, or < 0 when it says nothing worth trusting (an estimate from the bit
// rate is not).
double statedEndSeconds(const AVFormatContext& fmt, const AVStream& stream) {
    if (fmt.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return -1.0;
    const double tb = av_q2d(stream.time_base);
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) {
        const int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
        return static_cast<double>(start + stream.duration) * tb;
    }
    // Matroska keeps each stream's end time in a tag, "HH:MM:SS.nnnnnnnnn".
    if (const AVDictionaryEntry* tag = av_dict_get(stream.metadata, "DURATION", nullptr, 0)) {
        int hours = 0, minutes = 0;
        double seconds = 0.0;
        if (std::sscanf(tag->value, "%d:%d:%lf", &hours, &minutes, &seconds) == 3)
            return (hours * kMinutesPerHour + minutes) * kSecondsPerMinute + seconds;
    }
    // The whole file's length is the stream's only when there is nothing else.
    if (fmt.nb_streams == 1 && fmt.duration != AV_NOPTS_VALUE && fmt.duration > 0) {
        const int64_t start = fmt.start_time != AV_NOPTS_VALUE ? fmt.start_time : 0;
        return static_cast<double>(start + fmt.duration) / AV_TIME_BASE;
    }
    return -1.0;
}
