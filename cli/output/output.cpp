#include "output/output.h"

#include <iterator>

#include "output/writers.h"

namespace {

// In the order names are tried: a sequence pattern before the plain picture
// types it ends in; the hash before FFmpeg's muxers, whose guess comes last.
const OutputFormat kOutputFormats[] = {
    {kNullOutputName, nullptr, "", false, false, openNullWriter},
    {"md5", claimsMd5, ".md5", false, true, openMd5Writer},
    {"sequence", claimsSequence, "_%04d.png", false, false, openSequenceWriter},
    {"image", claimsImage, ".png", true, false, openStillWriter},
    {"video", claimsVideo, ".mkv", false, false, openVideoWriter},
};

}  // namespace

const OutputFormat* findOutputFormat(std::string_view name) {
    for (const OutputFormat& f : kOutputFormats)
        if (name == f.name) return &f;
    return nullptr;
}

std::string outputFormatNames() {
    std::string names;
    for (const OutputFormat& f : kOutputFormats) names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
}

Status outputFormatFor(const std::string& path, const OutputFormat*& format) {
    if (path == kStdoutName)
        return Status::fail("only the md5 output goes to standard output ('-'): add -f md5");
    for (const OutputFormat& f : kOutputFormats) {
        bool claimed = false;
        if (f.claims == nullptr) continue;
        if (Status s = f.claims(path, claimed); !s.ok()) return s;
        if (claimed) {
            format = &f;
            return {};
        }
    }
    return Status::fail("cannot tell a file type from the name " + path +
                        "; end it in .png, .mkv, .mp4, .md5 ... or give a sequence pattern (name_%04d.png)");
}
