// The conversion stage of a run: the picture a reader holds
// (input/input.h) into the module's 32-bit RGB words at the levels a
// display measures against, whole or a band of rows at a time. Each of
// the (at most two) levels asked for keeps a converter of its own, so
// that none rebuilds its tables frame after frame; a turned picture is
// converted as stored, then turned.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "input/input.h"
#include "input/rgb_converter.h"
#include "os/slice_workers.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"

class FrameConverter {
public:
    // For the pictures of `info`'s source; a whole picture's rows shared
    // out among `threads` (-threads; 0: one per core).
    FrameConverter(const SourceInfo& info, int threads);
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // The levels the reading hands its frames over at (full range unless told otherwise).
    void setLevels(RgbLevels levels) { levels_ = levels; }
    RgbLevels levels() const { return levels_; }

    // `picture` whole into `out` (the source's size).
    Status convert(const DecodedPicture& picture, RgbLevels levels, FrameBuffer& out);

    // For a caller that measures rows while they are still in cache: after
    // prepareRows() with the levels it will ask for (one or two), rows()
    // puts the picture's rows from `first` (counted from the top) into
    // `rows` at one of those levels, from several threads at once, while
    // `picture` stays as it is.
    Status prepareRows(const DecodedPicture& picture, const std::vector<RgbLevels>& levels);
    void rows(RgbLevels levels, int32_t first, const Frame& rows) const;

private:
    static constexpr size_t kMostLevels = 2;
    struct Kind {
        bool used = false;
        RgbLevels levels = RgbLevels::Full;
        RgbConverter converter;
        // After prepareRows(): converted row by row, else copied from
        // `copied`, the picture whole (converted into `whole` first, or
        // the reader's own RGB).
        bool byRows = false;
        FrameBuffer whole;
        const FrameBuffer* copied = nullptr;
    };
    // The kind that converts at `levels`: its own, else a new one.
    Kind& kindFor(RgbLevels levels);
    Status convertWith(Kind& kind, const DecodedPicture& picture, FrameBuffer& out);

    SourceInfo info_;
    int threads_ = 1;
    RgbLevels levels_ = RgbLevels::Full;
    std::array<Kind, kMostLevels> kinds_;
    std::unique_ptr<SliceWorkers> workers_;  // made with the first decoded picture
    std::vector<uint32_t> unturned_;         // the picture before it is turned, when it is
};
