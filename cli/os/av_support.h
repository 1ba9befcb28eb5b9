// What the reader and the writers share about FFmpeg's libraries: error
// texts, the libraries' own log, and the pixel format of the module's frames.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

// 32-bit words 0x00RRGGBB in the machine's byte order (B, G, R, X in memory
// on little-endian machines), as the plug-in interface passes pixels.
inline constexpr AVPixelFormat kFramePixelFormat = AV_PIX_FMT_0RGB32;

// Conversions keep full chroma resolution and round accurately; RGB to RGB
// is a plain copy whatever the flags.
int swsFlags();

// The library's text for an error code.
std::string avErrorText(int error);

// Prints the libraries' messages up to `level` (FFmpeg's AV_LOG_* scale;
// below 0 none: kivrel reports problems itself, in one line); the last
// error they logged stays available as detail.
void routeLibraryLog(int level);
// The last error message the libraries logged since the previous call, or "".
std::string takeLibraryMessage();
// How many errors the decoder `codec` (its AVCodecContext) has logged so
// far. Some decoders conceal damage (a failed checksum, say) and only log
// it: a frame during which this count moved is taken as damaged. Counted per
// decoder, so that decoders running side by side (kivrel report -j) do not
// mark each other's frames.
int64_t decoderErrorCount(const void* codec);

// The detail to put in brackets after a message: the logged text when there
// is one, else the error code's text.
std::string libraryDetail(int error);
