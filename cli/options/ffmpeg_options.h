// FFmpeg's own options as kivrel meets them on a command line copied from
// FFmpeg: those with no counterpart here are refused with the reason (so a
// wish is never quietly dropped), those that describe a raw input before -i
// become the demuxer's, and a stream specifier can only mean the one video
// stream.
#pragma once

#include <string_view>

#include "options/options.h"

struct Refusal {
    std::string_view name;
    std::string_view why;
};
const Refusal* findRefusal(std::string_view name);

// An option that describes an input when it comes before -i: the demuxer's
// option of the same meaning.
struct InputOnly {
    std::string_view name;
    const char* key;  // the demuxer's option
};
inline constexpr std::string_view kInputFlag = "-i";
const InputOnly* findInputOnly(std::string_view name);

// A demuxer option's value as FFmpeg would read it, checked here so that a
// typo is named with its option, not as an input FFmpeg cannot open.
Status checkDemuxerValue(const DemuxerOption& o);

// FFmpeg's stream specifier after an option's name ("v", "v:0", "0", "a"):
// the output holds one video stream, so only that one can be meant.
Status checkSpecifier(std::string_view shown, std::string_view specifier, bool perStream);
