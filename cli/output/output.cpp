#include "output/output.h"

#include <iterator>

#include "output/writers.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// In the order names are tried: a sequence pattern before the plain picture
// types it ends in; the hash before FFmpeg's muxers, whose guess comes last.
const OutputFormat kOutputFormats[] = {
    {kNullOutputName, nullptr, "", false, false, openNullWriter},
    {"md5", claimsMd5, ".md5", false, true, openMd5Writer},
    {"sequence", claimsSequence, "_%04d.png", false, false, openSequenceWriter},
    {kImageOutputName, claimsImage, ".png", true, false, openStillWriter},
    {kVideoOutputName, claimsVideo, ".mkv", false, true, openVideoWriter},
};

}  // namespace

const OutputFormat* findOutputFormat(std::string_view name) {
    for (const OutputFormat& f : kOutputFormats)
        if (name == f.name) return &f;
    return nullptr;
}

Status outputFormatByName(std::string_view name, const OutputFormat*& format, std::string& muxer) {
    format = findOutputFormat(name);
    muxer.clear();
    if (format != nullptr) return {};
    const std::string text(name);
    // FFmpeg's picture files, one per frame: the picture writers', which
    // the output's name then picks.
    if (name == kPictureMuxer) {
        format = findOutputFormat(kImageOutputName);
        muxer = text;
        return {};
    }
    const AVOutputFormat* found = av_guess_format(text.c_str(), nullptr, nullptr);
    if (found == nullptr || std::string_view(found->name) != name)
        return Status::usage("-f: '" + text + "' is not one of " + outputFormatNames() +
                             ", nor a container FFmpeg writes (nut, matroska, mp4 ...)");
    if (Status s = videoMuxerRefusal(found); !s.ok()) return Status::usage("-f: " + s.message());
    format = findOutputFormat(kVideoOutputName);
    muxer = text;
    return {};
}

std::string muxerSuffix(const std::string& muxer) {
    const AVOutputFormat* found = av_guess_format(muxer.c_str(), nullptr, nullptr);
    if (found == nullptr) return ".mkv";
    // One that lists none (image2pipe) is named after itself, never after a container it is not.
    if (found->extensions == nullptr || *found->extensions == 0) return "." + muxer;
    const std::string_view list = found->extensions;
    return std::string(".").append(list.substr(0, list.find(',')));
}

std::string outputFormatNames() {
    std::string names;
    for (const OutputFormat& f : kOutputFormats) names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
}

Status outputFormatFor(const std::string& path, const OutputFormat*& format) {
    if (path == kStdoutName)
        return Status::usage(
            "standard output ('-') needs -f naming what to write there: a container "
            "(-f nut, -f matroska ...) or the frame hashes (-f md5)");
    for (const OutputFormat& f : kOutputFormats) {
        bool claimed = false;
        if (f.claims == nullptr) continue;
        if (Status s = f.claims(path, claimed); !s.ok()) return s;
        if (claimed) {
            format = &f;
            return {};
        }
    }
    return Status::usage("cannot tell a file type from the name " + path +
                         "; end it in .png, .mkv, .mp4, .md5 ... or give a sequence pattern (name_%04d.png)");
}

Status picturesNamed(const std::string& path, const OutputFormat*& format) {
    const std::string why =
        "-f image2 writes a picture file per frame, named by a %d pattern "
        "(name_%04d.png), or one picture (x.png)";
    if (path == kStdoutName) return Status::usage(why + "; for standard output, -f image2pipe");
    if (Status s = outputFormatFor(path, format); !s.ok()) return s;
    if (format->name == "sequence" || format->name == kImageOutputName) return {};
    return Status::usage(path + ": " + why);
}
