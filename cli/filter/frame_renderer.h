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
    // Takes `source`'s pixels as the lane's next frame and leaves in their
    // place a buffer of the same geometry the lane no longer needs (the frame
    // it took before), free for the reading at once.
    virtual void take(int lane, FrameBuffer& source) = 0;
    // Renders the frame the lane took last. `output` stays valid and
    // unchanged until the lane's next render.
    virtual Status render(int lane, int64_t number, const FrameBuffer*& output) = 0;
};
