#include "os/av_support.h"

#include <cstdio>
#include <map>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace {

std::mutex logMutex;  // decoders and encoders may log from their threads
std::string lastMessage;
int printLevel = AV_LOG_QUIET;
std::map<const void*, int64_t> decoderErrors;  // by decoder context, under logMutex

bool isDecoder(void* avcl) {
    if (avcl == nullptr || *static_cast<const AVClass**>(avcl) != avcodec_get_class()) return false;
    const AVCodec* codec = static_cast<const AVCodecContext*>(avcl)->codec;
    return codec != nullptr && av_codec_is_decoder(codec);
}

void onLibraryLog(void* avcl, int level, const char* fmt, va_list args) {
    constexpr int kLevelBits = 0xFF;  // the rest of the word may carry a colour
    if (level >= 0) level &= kLevelBits;
    if (level <= AV_LOG_ERROR && isDecoder(avcl)) {
        const std::lock_guard<std::mutex> lock(logMutex);
        ++decoderErrors[avcl];
    }
    const bool print = level <= printLevel;
    if (level > AV_LOG_ERROR && !print) return;
    char line[1024];
    int printPrefix = 1;
    if (av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &printPrefix) < 0)
        std::snprintf(line, sizeof line, "%s", fmt);  // the bare text, placeholders and all
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const std::lock_guard<std::mutex> lock(logMutex);
    if (print) std::fprintf(stderr, "%s\n", text.c_str());
    if (level <= AV_LOG_ERROR && !text.empty()) {
        // Keep the message itself, without the "[ffv1 @ 0x...] " prefix.
        const size_t close = text.find("] ");
        lastMessage = close != std::string::npos && text.front() == '[' ? text.substr(close + 2) : text;
    }
}

}  // namespace

int swsFlags() { return SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT; }

std::string avErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(error, text, sizeof text) < 0) return "error code " + std::to_string(error);
    return text;
}

void routeLibraryLog(int level) {
    printLevel = level;
    av_log_set_callback(onLibraryLog);
}

std::string takeLibraryMessage() {
    const std::lock_guard<std::mutex> lock(logMutex);
    std::string m;
    m.swap(lastMessage);
    return m;
}

int64_t decoderErrorCount(const void* codec) {
    const std::lock_guard<std::mutex> lock(logMutex);
    const auto it = decoderErrors.find(codec);
    return it != decoderErrors.end() ? it->second : 0;
}

std::string libraryDetail(int error) {
    std::string logged = takeLibraryMessage();
    return logged.empty() ? avErrorText(error) : logged;
}
