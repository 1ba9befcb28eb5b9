// An FFmpeg encoder with its converter, fed kivrel's bottom-up RGB frames;
// shared by the picture and video writers.
#pragma once

#include <cstdint>
#include <string>

#include "output/output.h"
#include "output/pending_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

struct SwsContext;

class FrameEncoder {
public:
    FrameEncoder() = default;
    FrameEncoder(const FrameEncoder&) = delete;
    FrameEncoder& operator=(const FrameEncoder&) = delete;
    ~FrameEncoder();

    // `immediate`: every frame's packet must come out before the next frame
    // goes in (one file per picture), which rules out frame threads.
    // `target` names the output in messages.
    Status open(const AVCodec* codec, const WriterSettings& s, bool globalHeader, bool immediate,
                AVDictionary** options, const std::string& target);
    // The encoder of the picture type `path`'s extension names, for one file per frame.
    Status openForPictures(const std::string& path, const WriterSettings& s);

    // nullptr: no more frames, drain the encoder.
    Status send(const FrameBuffer* frame, int64_t pts);
    // 0: a packet; AVERROR(EAGAIN): none yet; AVERROR_EOF: drained; else an error.
    int receive(AVPacket* packet) { return avcodec_receive_packet(ctx_, packet); }
    // Encodes one frame as a whole picture file into `file`'s temporary name.
    Status writePicture(const FrameBuffer& frame, int64_t pts, const PendingFile& file);

    const AVCodecContext* context() const { return ctx_; }

private:
    // A fresh context for `codec`, all but opened.
    Status configure(const AVCodec* codec, const WriterSettings& s, bool globalHeader, int threads,
                     const std::string& target);

    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;  // for writePicture
    SwsContext* sws_ = nullptr;
    std::string target_;
};

// Whether `path` ends in a picture type FFmpeg writes one file a frame of
// (.png, .jpg, .bmp, .tif ...), not one a container of its own claims (.avif).
bool hasImageExtension(const std::string& path);
// The codec a picture name stands for: its picture type's, or for a name a
// container claims (.avif) that container's own; AV_CODEC_ID_NONE for a
// name that is no picture.
AVCodecID pictureCodecOf(const std::string& path);
// The video encoder -c:v names (by encoder or by codec), or a usage failure.
Status findVideoEncoder(const std::string& name, const AVCodec*& codec);
// "%d" patterns as FFmpeg's image sequences spell them ("%04d", "%%" for a percent sign).
Status expandPattern(const std::string& pattern, int64_t number, std::string& name);
