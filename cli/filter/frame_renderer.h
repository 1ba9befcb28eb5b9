// The render step of a run: the module's instances, or anything else that
// turns a source frame into an output frame (a monitor's tiles). The run's
// render stage (run/render.h) drives it.
#pragma once

#include <cstdint>

#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"

class FrameRenderer {
public:
    virtual ~FrameRenderer() = default;
    // How many frames may be rendered at once, each in a lane of its own
    // (0 .. lanes() - 1) on a thread of its own. 1 for a renderer that keeps
    // state from frame to frame.
    virtual int lanes() const = 0;
    // Renders `source` in `lane`. The renderer may take the buffer's pixels
    // and leave another buffer of the same geometry in their place. `output`
    // stays valid and unchanged until the lane's next render.
    virtual Status render(int lane, FrameBuffer& source, int64_t number, const FrameBuffer*& output) = 0;
};
