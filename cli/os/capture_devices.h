// FFmpeg's capture devices (x11grab, v4l2, lavfi, ...) live in a library of
// their own that pulls in some eighty more (windowing, audio, OpenCL...):
// linked, their loading and relocation cost every run about 60 ms before
// its first frame. kivrel loads it only when an input names a format the
// demuxers do not know.
#pragma once

#include <string>

// Loads the devices' library and registers its formats, once per process;
// later calls return the first one's answer. "" on success, else why not.
std::string loadCaptureDevices();
