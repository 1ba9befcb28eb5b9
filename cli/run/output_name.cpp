#include "run/output_name.h"

#include <sys/stat.h>

#include "os/paths.h"

Status openOutput(const Options& options, const SourceInfo& info, const std::optional<FileId>& source,
                  const std::string& displayName, bool pictureAspect, const Plan& plan,
                  const FrameBuffer& frame, const OutputFormat*& format, std::unique_ptr<Writer>& writer) {
    WriterSettings ws;
    format = nullptr;
    if (options.nullOutput) {
        format = findOutputFormat(kNullOutputName);
    } else if (!options.format.empty()) {
        if (Status s = outputFormatByName(options.format, format, ws.muxer); !s.ok()) return s;
    }
    std::string path;
    if (format == nullptr || format->name != kNullOutputName) {
        path = options.output;
        if (path.empty()) {
            std::string suffix = plan.videoOut ? ".mkv" : ".png";
            const bool pictures = ws.muxer == kPictureMuxer;
            if (format != nullptr && (ws.muxer.empty() || pictures)) suffix = format->defaultSuffix;
            if (pictures && plan.videoOut) suffix = findOutputFormat("sequence")->defaultSuffix;
            if (!ws.muxer.empty() && !pictures) suffix = muxerSuffix(ws.muxer);
            path = stemOf(options.input) + "." + displayName + suffix;
        }
        struct stat st {};
        if (path != kStdoutName && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return Status::fail(path + " is a folder; name a file in it (" + path +
                                (path.ends_with('/') ? "" : "/") + stemOf(options.input) + "." + displayName +
                                (plan.videoOut ? ".mkv" : ".png") + ")");
        if (ws.muxer == kPictureMuxer) {
            if (Status s = picturesNamed(path, format); !s.ok()) return s;
            ws.muxer.clear();
        } else if (format == nullptr) {
            if (Status s = outputFormatFor(path, format); !s.ok()) return s;
        } else if (path == kStdoutName && !format->toStdout) {
            return Status::usage("the " + std::string(format->name) +
                                 " output cannot go to standard output ('-'); name a container: -f nut");
        }
        // A clip of unstated length may still hold one frame: the writer
        // refuses a second one when it comes.
        if (format->onePicture && plan.videoOut && plan.limit != 1 && (info.still || info.frameCount > 1))
            return Status::fail(path + " holds one picture, but " + info.name +
                                " gives a clip; write a video (.mkv), an image sequence (name_%04d.png), or "
                                "add -frames 1");
    }
    ws.w = frame.w();
    ws.h = frame.h();
    ws.frameRate = info.frameRate;
    ws.timeBase = info.timeBase;
    if (pictureAspect) ws.sampleAspect = info.sampleAspect;
    ws.overwrite = options.overwrite;
    ws.source = source;
    ws.frames = plan.expected;
    ws.startNumber = options.startNumber.value_or(1);
    ws.codec = options.codec;
    ws.pixelFormat = options.pixelFormat;
    ws.threads = options.threads;
    return format->open(path, ws, writer);
}
