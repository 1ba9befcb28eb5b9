// The writer table: the one place that names, for a container or an
// encoder whose FFmpeg default would lose colour or fail, the encoder, pixel
// format and options Kivrel writes it with instead, or why it refuses it.
#pragma once

#include <string>
#include <string_view>

struct WriterChoice {
    std::string_view muxer;    // FFmpeg's muxer name; empty: a row for an encoder in any muxer
    std::string_view encoder;  // the encoder (for a muxer row: instead of the muxer's default)
    const char* pixelFormat;   // unless -pix_fmt says otherwise; null: the encoder's least lossy
    const char* options;       // "key=value:key=value" for the encoder, or ""
    const char* refusal;       // non-null: this muxer is refused, for this reason
};

// The row for `muxer` written with no -c:v, or null.
const WriterChoice* writerForMuxer(std::string_view muxer);
// The row for `encoder` (whichever muxer holds it), or null.
const WriterChoice* writerForEncoder(std::string_view encoder);
// Why `muxer` cannot write to a stream that does not seek (standard output,
// a FIFO), or null where it can.
const char* streamRefusal(std::string_view muxer);
