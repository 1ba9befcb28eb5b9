#include "output/writer_table.h"

namespace {

// A muxer's row applies with no -c:v; an encoder's row wherever that encoder
// writes, so -c:v, a picture file and a muxer's default get the same. Colour
// stays whole (4:4:4 or RGB); 4:2:2 only where the encoder has no 4:4:4.
constexpr WriterChoice kWriters[] = {
    // MPEG-2 has no 4:4:4; 4:2:2 keeps every row's colour. MPEG-1 (the
    // program stream's default) has only 4:2:0.
    {"mpeg", "mpeg2video", "yuv422p", "", nullptr},
    {"vob", "mpeg2video", "yuv422p", "", nullptr},
    {"dvd", "mpeg2video", "yuv422p", "", nullptr},
    {"mpegts", "mpeg2video", "yuv422p", "", nullptr},  // .ts, .m2ts
    {"mxf", "mpeg2video", "yuv422p", "", nullptr},
    // WTV keeps no codec setup beside the stream, which FFV1 cannot be read without.
    {"wtv", "mpeg2video", "yuv422p", "", nullptr},
    // Lossy WebP is 4:2:0 by design; lossless WebP keeps RGB.
    {"webp", "libwebp", "bgra", "lossless=1", nullptr},
    {"yuv4mpegpipe", "", "yuv444p", "", nullptr},  // YUV only; its encoder takes any
    // Audio formats whose only picture is cover art.
    {"mp3", "", nullptr, "", "mp3 is an audio-only format"},
    {"flac", "", nullptr, "", "flac is an audio-only format"},
    {"aiff", "", nullptr, "", "aiff is an audio-only format"},
    // Containers that need a sound track beside the picture.
    {"amv", "", nullptr, "", "amv needs an audio stream beside the video"},
    {"psp", "", nullptr, "", "psp needs an audio stream beside the video"},
    // JPEG is full range by definition: the yuvj formats are.
    {"", "mjpeg", "yuvj444p", "", nullptr},
    // Theora codes a picture the same as the last as an empty packet, which
    // FFmpeg's containers drop: every picture a key frame keeps each one.
    {"", "libtheora", nullptr, "g=1", nullptr},
    // DNxHD proper takes only a few sizes, rates and bit rates; DNxHR 4:4:4 takes any size.
    {"", "dnxhd", "yuv444p10le", "profile=dnxhr_444", nullptr},
};

// Muxers that go back over what they wrote to finish the file and, where
// they cannot, write one that no reader takes, yet report no error.
struct StreamRefusal {
    std::string_view muxer;
    const char* reason;
};
constexpr StreamRefusal kNeedsSeeking[] = {
    {"wtv", "wtv goes back to finish the file"},
    {"mxf_opatom", "mxf_opatom goes back to finish the file"},
};

}  // namespace

const char* streamRefusal(std::string_view muxer) {
    for (const StreamRefusal& r : kNeedsSeeking)
        if (r.muxer == muxer) return r.reason;
    return nullptr;
}

const WriterChoice* writerForMuxer(std::string_view muxer) {
    for (const WriterChoice& w : kWriters)
        if (!w.muxer.empty() && w.muxer == muxer) return &w;
    return nullptr;
}

const WriterChoice* writerForEncoder(std::string_view encoder) {
    for (const WriterChoice& w : kWriters)
        if (w.muxer.empty() && w.encoder == encoder) return &w;
    return nullptr;
}
