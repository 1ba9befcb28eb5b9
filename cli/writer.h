// Where the filter's frames go: a small interface with writers for one
// picture, an image sequence and a video (all through FFmpeg's encoders),
// and a null writer for timing. Files are written under a temporary name
// beside the target and moved into place by finish(); a writer destroyed
// before that removes what it wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"
#include "reader.h"

enum class OutputKind {
    Image,     // one picture: .png, .jpg, .bmp, .tif ...
    Sequence,  // one picture per frame, named by a %d pattern
    Video,     // a container chosen by the extension: .mkv, .avi, .mp4 ...
    Null,      // nothing written
};

// What an output name asks for; fails for a name FFmpeg cannot write.
Status classifyOutput(const std::string& path, OutputKind& kind);

struct WriterSettings {
    int32_t w = 0;
    int32_t h = 0;
    Rational frameRate;
    bool overwrite = false;
};

class Writer {
public:
    virtual ~Writer() = default;
    virtual Status write(const FrameBuffer& frame, int64_t frameNumber) = 0;
    virtual Status finish() = 0;
    // Where the frames went, for the summary ("" for none).
    virtual std::string destination() const = 0;
};

Status openWriter(OutputKind kind, const std::string& path, const WriterSettings& settings,
                  std::unique_ptr<Writer>& writer);
