#include "play/play_options.h"

#include <string_view>

namespace {

// The viewer's own words; everything else is a render's option.
constexpr std::string_view kPausedOption = "--paused";
// For tests: a hash line per frame shown ("frame,pts,md5", as -o x.md5
// writes), of the module's output before the status line and any scaling.
constexpr std::string_view kPresentedHashOption = "--presented-md5";
// What FFmpeg spells -f before -i; kivrel's -f is the output's format.
constexpr std::string_view kInputFormatOption = "--input-format";

}  // namespace

Status takePlayOptions(int argc, char** argv, PlayOptions& play, std::vector<char*>& rest) {
    rest.assign(argv, argv + 1);
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == kPausedOption) {
            play.paused = true;
        } else if (word == kPresentedHashOption) {
            if (i + 1 >= argc) return Status::usage(std::string(kPresentedHashOption) + " needs a file name");
            play.hashFile = argv[++i];
        } else if (word == kInputFormatOption) {
            if (i + 1 >= argc || *argv[i + 1] == 0)
                return Status::usage(std::string(kInputFormatOption) +
                                     " needs a format name (v4l2, mpegts, ...)");
            play.inputFormat = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    return {};
}
